// A whole port-mode run with the service already listening, and the port
// check of one poll, on a machine with 0, 1,000, 4,000 and 12,000 TCP
// connections open (loopback, both ends held by this process and, past what
// one process may hold, by holder processes): under wine 8 a read of every
// row with owners grows with the rows, and a run reads the tables in its port
// selection and in its poll. Beside the product's poll stands the read the
// poll made before it read the listeners alone (every IPv4 row with owners,
// one sample), and beside its run, when STARTER_BENCH_BEFORE names the
// starter built from that tree, that starter's run, in alternating order.
#include <windows.h>

#include <winsock2.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_env.h"
#include "bench/benches.h"
#include "bench/figures.h"
#include "app/readiness_wait.h"
#include "contract/product_contract.h"
#include "platform/winsock.h"
#include "support/port_env.h"
#include "support/win_test_env.h"

namespace starter::bench {
namespace {

constexpr std::uint16_t kRunPort = 9698;  // the stored port, kept by every run
constexpr int kConnectionCounts[] = {0, 1000, 4000, 12000};
// Under wine 8 the read before grows with the square of the rows (12.6 s at
// 1,000 connections, 177 s at 4,000): at 12,000 it would take about half an
// hour, so it is measured up to 4,000 only.
constexpr int kMostConnectionsForTheReadBefore = 4000;

struct BusyFigures {
  std::vector<double> polls;    // the product's port check of one poll
  std::optional<double> poll_before_ms;  // the poll's read before: every IPv4 row with owners
  std::vector<double> runs;
  std::vector<double> runs_before;  // the starter named by STARTER_BENCH_BEFORE
  int cut = 0;  // runs that printed anything but the success line: ended by the run's limit
};

// The read a poll made before it read the listeners alone, size query and
// fill, as its code made them.
void ReadEveryRowWithOwners() {
  DWORD size = 0;
  ::GetExtendedTcpTable(nullptr, &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
  std::vector<unsigned char> table(size);
  ::GetExtendedTcpTable(table.data(), &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
}

double TimeRun(const std::wstring& starter, const char* which, int& cut) {
  const TimedRun run = RunTimed(starter, L"--Dravel Brimvale");
  if (!run.finished || run.output != test::kSuccess) {
    ++cut;
    std::printf("  a run of the %s starter printed \"%s\" after %.1f s\n", which, run.output.c_str(),
                run.Ms() / 1000);
  }
  return run.Ms();
}

void MeasureRuns(const std::optional<std::wstring>& before, const Settings& settings, BusyFigures& figures) {
  for (int round = 0; round < settings.rounds; ++round) {
    if (!before) {
      figures.runs.push_back(TimeRun(test::StarterExe(), "built", figures.cut));
      continue;
    }
    auto [after_ms, before_ms] = SideBySide(
        round, [&] { return TimeRun(test::StarterExe(), "built", figures.cut); },
        [&] { return TimeRun(*before, "earlier", figures.cut); });
    figures.runs.push_back(after_ms);
    figures.runs_before.push_back(before_ms);
  }
}

BusyFigures MeasureWith(int connections, const std::optional<std::wstring>& before, const Settings& settings) {
  const test::BusyMachine busy(connections);
  BusyFigures figures;
  if (busy.Count() != connections) {
    std::printf("  only %d of %d connections could be made\n", busy.Count(), connections);
    return figures;
  }
  for (int round = 0; round < settings.rounds; ++round)
    figures.polls.push_back(TimeMs([] { app::MachineProbe(L"").CheckPort(kRunPort); }));
  // One sample: on a busy machine it takes minutes.
  if (connections <= kMostConnectionsForTheReadBefore) figures.poll_before_ms = TimeMs(ReadEveryRowWithOwners);
  MeasureRuns(before, settings, figures);
  return figures;
}

void PrintFigures(int connections, const BusyFigures& figures) {
  const std::string with = std::to_string(connections) + " connections";
  PrintFigure("port check of one poll, " + with, figures.polls);
  if (figures.poll_before_ms)
    std::printf("  %-44s %.1f ms\n", ("the poll's read before, " + with).c_str(), *figures.poll_before_ms);
  PrintFigure("starter run, " + with, figures.runs);
  if (!figures.runs_before.empty()) PrintFigure("earlier starter run, " + with, figures.runs_before);
  if (figures.cut) std::printf("  %d runs ended by their limit\n", figures.cut);
}

}  // namespace

bool BenchBusyMachineRun(const install::InstallLayout& layout, const Settings& settings) {
  std::printf("Whole run, port mode (--Dravel Brimvale), service listening on %u, beside many TCP connections\n",
              kRunPort);
  StopServices(layout);
  const platform::WinsockSession winsock;
  test::StandinListing tools;
  tools.ShowMachineTable();
  {
    test::ScopedEnvironmentVariable long_lived(L"STANDIN_LIFETIME_MS", L"3600000");
    if (!StartListeningService(layout, kRunPort)) {
      std::printf("  the stand-in service did not come up\n");
      return false;
    }
  }
  // The copy each run launches finds the port taken and leaves at once.
  const test::ScopedEnvironmentVariable short_lived(L"STANDIN_LIFETIME_MS", L"0");
  const std::optional<std::wstring> before = test::EnvironmentVariable(L"STARTER_BENCH_BEFORE");
  bool met = true;
  double longest_ms = 0;
  for (const int connections : kConnectionCounts) {
    const BusyFigures figures = MeasureWith(connections, before, settings);
    if (figures.runs.empty()) {
      met = false;
      continue;
    }
    PrintFigures(connections, figures);
    longest_ms = std::max(longest_ms, *std::max_element(figures.runs.begin(), figures.runs.end()));
  }
  // The limit, and the second it may take to log its warning.
  const double limit_s = static_cast<double>(contract::kWaitingModeRunLimit.count()) + 1;
  met = PrintTarget("longest run, within the run limit", longest_ms / 1000, limit_s, "s") && met;
  StopServices(layout);
  return met;
}

}  // namespace starter::bench
