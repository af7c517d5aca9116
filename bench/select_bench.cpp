// Port selection with some of the service ports taken, against one bare
// netstat | findstr pipeline. The listing comes from the netstat stand-in,
// so the figures do not depend on who else uses the port range right now.
#include <array>
#include <chrono>
#include <cstdio>
#include <string>

#include "bench/bench_env.h"
#include "bench/benches.h"
#include "bench/figures.h"
#include "log/diag_log.h"
#include "platform/process_start.h"
#include "port/command_output.h"
#include "port/port_selection.h"
#include "service/process_detection.h"
#include "support/port_env.h"
#include "support/product_internals.h"
#include "support/win_test_env.h"

namespace starter::bench {
namespace {

constexpr int kTakenCounts[] = {0, 10, 28};
constexpr int kServicePorts = contract::kLastServicePort - contract::kFirstServicePort + 1;

// A listing of a quiet desktop machine, none of whose numbers contains the
// digits of a service port, plus a listener held by the system on each of the
// first `taken` service ports.
std::string Listing(int taken) {
  std::string rows =
      "  TCP    0.0.0.0:135            0.0.0.0:0              LISTENING       1020\r\n"
      "  TCP    0.0.0.0:445            0.0.0.0:0              LISTENING       4\r\n"
      "  TCP    0.0.0.0:5040           0.0.0.0:0              LISTENING       6212\r\n"
      "  TCP    0.0.0.0:49664          0.0.0.0:0              LISTENING       812\r\n"
      "  TCP    0.0.0.0:49665          0.0.0.0:0              LISTENING       1458\r\n"
      "  TCP    127.0.0.1:50134        127.0.0.1:50135        ESTABLISHED     5520\r\n"
      "  TCP    127.0.0.1:50135        127.0.0.1:50134        ESTABLISHED     5520\r\n"
      "  TCP    192.168.1.20:139       0.0.0.0:0              LISTENING       4\r\n"
      "  TCP    192.168.1.20:51822     52.112.14.3:443        ESTABLISHED     3316\r\n"
      "  TCP    192.168.1.20:51830     20.42.73.25:443        TIME_WAIT       0\r\n"
      "  UDP    0.0.0.0:5353           *:*                                    2248\r\n"
      "  UDP    0.0.0.0:5355           *:*                                    2248\r\n";
  for (int i = 0; i < taken; ++i) {
    char row[96];
    std::snprintf(row, sizeof(row),
                  "  TCP    0.0.0.0:%d           0.0.0.0:0              LISTENING       4\r\n",
                  contract::kFirstServicePort + i);
    rows += row;
  }
  return rows;
}

struct SelectionFigures {
  std::vector<double> per_check;
  std::vector<double> total;
  std::vector<double> pipeline;
};

// A selection from the first service port checks every taken port and then
// the first free one, if any.
int ChecksMade(int taken) { return taken < kServicePorts ? taken + 1 : kServicePorts; }

// One selection from the first service port with `taken` ports held; its
// milliseconds per availability check, or negative when it chose wrongly.
double TimeSelection(int taken, std::vector<double>& totals) {
  test::StoreServerPort(contract::kFirstServicePort);
  std::uint16_t chosen = 0;
  const double ms = TimeMs([&] { chosen = port::SelectServerPort(); });
  const int expected = taken < kServicePorts ? contract::kFirstServicePort + taken : 0;
  if (chosen != expected) {
    std::printf("  selection chose %u, expected %d\n", chosen, expected);
    return -1;
  }
  totals.push_back(ms);
  return ms / ChecksMade(taken);
}

// As many bare pipelines back to back as the selection makes checks, so both
// sides span about the same stretch of the machine's changing load; the
// milliseconds of one.
double TimePipelines(const std::string& command_line, int count) {
  double total = 0;
  for (int i = 0; i < count; ++i) total += TimePipeline(command_line.c_str());
  return total / count;
}

// Where the time of one check of a taken port goes, with the bench's console
// shared and with a windowless console of its own for each pipeline.
void PrintCheckBreakdown(test::StandinListing& tools, const Settings& settings) {
  tools.ShowListing(Listing(1));
  const char* command = "netstat -ano | findstr 9673";
  for (const bool with_console : {true, false}) {
    const ConsoleSetting console(with_console);
    std::vector<double> check, read, bare;
    for (int round = 0; round < settings.rounds; ++round) {
      check.push_back(TimeMs([] { test::IsPortAvailable(contract::kFirstServicePort); }));
      read.push_back(TimeMs([&] {
        std::string output;
        port::ReadCommandOutput(command, output, std::chrono::seconds(30));
      }));
      bare.push_back(TimePipeline(command));
    }
    const std::string setting = std::string(", ") + console.Name();
    PrintFigure("breakdown: IsPortAvailable (taken)" + setting, check);
    PrintFigure("breakdown: ReadCommandOutput" + setting, read);
    PrintFigure("breakdown: bare pipeline" + setting, bare);
  }
}

// The other parts of a check: the watch that bounds the pipeline, the TCP
// tables and the bind probe that a free port costs, the service lookup of a
// taken one, a log line.
void PrintPartsBreakdown(const Settings& settings) {
  std::vector<double> watch, tables, bind, walk, line;
  for (int round = 0; round < settings.rounds; ++round) {
    watch.push_back(TimeMs([] {
      const platform::ProgramWithOutput nothing;
      platform::ProgramDeadline deadline(nothing);
      static_cast<void>(deadline.Start(std::chrono::seconds(30)));
    }));
    tables.push_back(TimeMs([] {
      static_cast<void>(port::ListenersOn(contract::kFirstServicePort, port::IpFamilies::kIpv4AndIpv6));
    }));
    bind.push_back(TimeMs([] { port::MachinePortSteps().TryBind(contract::kFirstServicePort); }));
    walk.push_back(TimeMs([] { static_cast<void>(service::MachineProcesses().LookAt({4})); }));
    line.push_back(TimeMs([] { log::Info("port {} is not available", contract::kFirstServicePort); }));
  }
  PrintFigure("breakdown: time-limit watch started and stopped", watch);
  PrintFigure("breakdown: TCP listeners read", tables);
  PrintFigure("breakdown: bind probe", bind);
  PrintFigure("breakdown: a look at process 4", walk);
  PrintFigure("breakdown: one log line", line);
}

using AllFigures = std::array<SelectionFigures, std::size(kTakenCounts)>;

bool MeasureSelections(test::StandinListing& tools, const Settings& settings, AllFigures& figures) {
  const std::string pipeline = "netstat -ano | findstr " + std::to_string(contract::kFirstServicePort);
  for (int round = 0; round < settings.rounds; ++round) {
    for (std::size_t k = 0; k < std::size(kTakenCounts); ++k) {
      tools.ShowListing(Listing(kTakenCounts[k]));
      auto [check_ms, pipe_ms] = SideBySide(
          round, [&] { return TimeSelection(kTakenCounts[k], figures[k].total); },
          [&] { return TimePipelines(pipeline, ChecksMade(kTakenCounts[k])); });
      if (check_ms < 0) return false;
      figures[k].per_check.push_back(check_ms);
      figures[k].pipeline.push_back(pipe_ms);
    }
  }
  return true;
}

bool PrintSelections(const AllFigures& figures) {
  bool met = true;
  std::vector<double> ratios;
  for (std::size_t k = 0; k < std::size(kTakenCounts); ++k) {
    const std::string taken = std::to_string(kTakenCounts[k]) + " taken: ";
    PrintFigure(taken + "whole selection", figures[k].total);
    PrintFigure(taken + "per availability check", figures[k].per_check);
    PrintFigure(taken + "bare pipeline, each", figures[k].pipeline);
    met = PrintRatio(taken + "per check / pipeline", figures[k].per_check, figures[k].pipeline, 1.1) && met;
    ratios.push_back(PairedRatio(figures[k].per_check, figures[k].pipeline));
  }
  // Linear growth: a check costs the same share of a pipeline however many
  // checks the selection makes.
  const Summary spread = Summarize(ratios);
  return PrintTarget("ratio spread, 0/10/28 taken (max/min)", 100 * spread.max / spread.min, 110, "%") && met;
}

}  // namespace

bool BenchPortSelection(const install::InstallLayout& layout, const Settings& settings) {
  std::printf("Port selection (stand-in listing, no service running)\n");
  StopServices(layout);
  test::StandinListing tools;
  PrintCheckBreakdown(tools, settings);
  PrintPartsBreakdown(settings);
  // The targets compare like with like: a bare pipeline shares the console
  // too. Detached, each check starts a console host that a bare pipeline,
  // which would open a window on Windows, does without (see the breakdown).
  const ConsoleSetting console(true);
  std::printf("  selections %s:\n", console.Name());
  AllFigures figures;
  return MeasureSelections(tools, settings, figures) && PrintSelections(figures);
}

}  // namespace starter::bench
