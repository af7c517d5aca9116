// Readiness latency: from the moment the service writes the connected marker
// to the moment the starter's status line reaches its caller, in the
// no-argument mode. The stand-in stamps the performance counter when the
// marker is written; the caller stamps it when the first output bytes arrive.
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

#include "bench/bench_env.h"
#include "bench/benches.h"
#include "bench/figures.h"
#include "bench/stage_times.h"
#include "support/port_env.h"
#include "port/server_port.h"
#include "support/win_test_env.h"

namespace starter::bench {
namespace {

constexpr std::uint16_t kLatencyPort = 9698;
constexpr int kMinimumRuns = 30;  // the target asks for at least 20

struct Latency {
  double to_output = -1;  // marker written -> status line received
  double to_exit = -1;    // marker written -> output ended and process gone
  double marker_ms = 0;   // when the marker was written, on the log's clock
  double output_ms = 0;   // when the status line arrived, on the log's clock
  RunWindow window;
};

// One starter run whose service writes its marker `delay_ms` after it starts.
Latency MeasureOnce(const install::InstallLayout& layout, const std::wstring& stamp_file, int delay_ms) {
  StopServices(layout);
  ::DeleteFileW(stamp_file.c_str());
  test::StoreServerPort(kLatencyPort);
  test::ScopedEnvironmentVariable delay(L"STANDIN_MARKER_DELAY_MS", std::to_wstring(delay_ms));
  const TimedRun run = RunTimed(test::StarterExe(), L"");
  const std::string stamp = test::ReadFileBytes(stamp_file);
  Latency latency;
  if (!run.finished || run.output != test::kSuccess || stamp.empty() || !run.first_output) {
    std::printf("  (disturbed run repeated: output \"%s\")\n", run.output.c_str());
    return latency;
  }
  const std::int64_t written = std::stoll(stamp);
  latency.to_output = TicksToMs(run.first_output - written);
  latency.to_exit = TicksToMs(run.ended - written);
  // The run's start is stamped on both clocks at once, which maps one onto the other.
  latency.marker_ms = run.window.started_ms + TicksToMs(written - run.started);
  latency.output_ms = run.window.started_ms + TicksToMs(run.first_output - run.started);
  latency.window = run.window;
  return latency;
}

// Splits each latency at the starter's "OUTPUT->" log line, written just
// after the line is printed: before it the wake-up on the marker's folder
// and the poll it brings, after it the way out of the process.
void PrintSplit(const std::vector<Latency>& runs) {
  std::vector<RunWindow> windows;
  for (const Latency& run : runs) windows.push_back(run.window);
  const std::vector<double> logged = LineTimes(windows, "OUTPUT->");
  std::vector<double> to_seen, to_arrival;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (logged[i] < 0) continue;
    to_seen.push_back(logged[i] - runs[i].marker_ms);
    to_arrival.push_back(runs[i].output_ms - logged[i]);
  }
  PrintFigure("  marker -> OUTPUT logged (next poll)", to_seen);
  PrintFigure("  OUTPUT logged -> status line (exit)", to_arrival);
}

}  // namespace

bool BenchReadinessLatency(const install::InstallLayout& layout, const Settings& settings) {
  const int runs = std::max(settings.rounds, kMinimumRuns);
  std::printf("Readiness latency, no-argument mode, %d runs (marker at a random phase of the polls)\n", runs);
  test::StandinListing tools;
  tools.ShowMachineTable();
  const std::wstring stamp_file = test::TestBinDir() + L"\\bench_marker_stamp.txt";
  test::ScopedEnvironmentVariable stamp(L"STANDIN_MARKER_STAMP", stamp_file);
  test::ScopedEnvironmentVariable lifetime(L"STANDIN_LIFETIME_MS", L"30000");
  // A delay spread over several poll periods puts the marker anywhere between
  // two polls, whatever a period costs on this machine.
  std::mt19937 random(9698);
  std::uniform_int_distribution<int> delay(200, 549);
  std::vector<Latency> measured;
  std::vector<double> to_output, to_exit;
  for (int disturbed = 0; static_cast<int>(to_output.size()) < runs && disturbed < runs;) {
    const Latency latency = MeasureOnce(layout, stamp_file, delay(random));
    if (latency.to_output < 0) {
      ++disturbed;
      continue;
    }
    measured.push_back(latency);
    to_output.push_back(latency.to_output);
    to_exit.push_back(latency.to_exit);
  }
  StopServices(layout);
  ::DeleteFileW(stamp_file.c_str());
  PrintFigure("marker -> status line", to_output);
  PrintFigure("marker -> starter gone", to_exit);
  PrintSplit(measured);
  const Summary summary = Summarize(to_output);
  const bool median_met = PrintTarget("median latency", summary.median, 15, "ms");
  const bool p95_met = PrintTarget("p95 latency", summary.p95, 40, "ms");
  return static_cast<int>(to_output.size()) == runs && median_met && p95_met;
}

}  // namespace starter::bench
