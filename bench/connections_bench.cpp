// A whole port-mode run with the service already listening, on a machine with
// 0, 1,000 and 4,000 TCP connections open (both ends held by this process):
// each read of the TCP tables grows with the rows, and the run reads them in
// the port selection and in its poll. Beside each run, one read of the tables
// in this process shows where the time goes.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_env.h"
#include "bench/benches.h"
#include "bench/figures.h"
#include "contract/product_contract.h"
#include "platform/winsock.h"
#include "port/tcp_table.h"
#include "support/port_env.h"
#include "support/win_test_env.h"

namespace starter::bench {
namespace {

constexpr std::uint16_t kRunPort = 9698;  // the stored port, kept by every run
constexpr int kConnectionCounts[] = {0, 1000, 4000};

struct BusyFigures {
  std::vector<double> runs;
  double read_ms = 0;    // one read of the tables, taken before the runs
  int cut = 0;  // runs that printed anything but the success line: ended by the run's limit
};

BusyFigures MeasureWith(int connections, const Settings& settings) {
  const test::LoopbackConnections busy(connections);
  BusyFigures figures;
  if (busy.Count() != connections) {
    std::printf("  only %d of %d connections could be made\n", busy.Count(), connections);
    return figures;
  }
  // One sample: on a busy machine a read takes many seconds.
  figures.read_ms = TimeMs([] { static_cast<void>(port::ReadMachineTcpTables(port::TableRows::kAll)); });
  for (int round = 0; round < settings.rounds; ++round) {
    const TimedRun run = RunTimed(test::StarterExe(), L"--Dravel Brimvale");
    if (!run.finished || run.output != test::kSuccess) {
      ++figures.cut;
      std::printf("  a run printed \"%s\" after %.1f s\n", run.output.c_str(), run.Ms() / 1000);
    }
    figures.runs.push_back(run.Ms());
  }
  return figures;
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
  bool met = true;
  double longest_ms = 0;
  for (const int connections : kConnectionCounts) {
    const BusyFigures figures = MeasureWith(connections, settings);
    if (figures.runs.empty()) {
      met = false;
      continue;
    }
    const std::string with = std::to_string(connections) + " connections";
    PrintFigure("starter run, " + with, figures.runs);
    std::printf("  %-44s %.1f ms\n", ("one read of the TCP tables, " + with).c_str(), figures.read_ms);
    if (figures.cut) std::printf("  %d of %zu runs ended by the run's limit\n", figures.cut, figures.runs.size());
    longest_ms = std::max(longest_ms, *std::max_element(figures.runs.begin(), figures.runs.end()));
  }
  // The limit, and the second it may take to log its warning.
  const double limit_s = static_cast<double>(contract::kWaitingModeRunLimit.count()) + 1;
  met = PrintTarget("longest run, within the run limit", longest_ms / 1000, limit_s, "s") && met;
  StopServices(layout);
  return met;
}

}  // namespace starter::bench
