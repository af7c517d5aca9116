// A whole run of the starter in the port mode with the service already
// listening, against the least any run must cost: starting a no-op console
// program and running one netstat | findstr pipeline.
#include <cstdio>
#include <string>

#include "bench/bench_env.h"
#include "bench/benches.h"
#include "bench/figures.h"
#include "bench/stage_times.h"
#include "port/port_win_env.h"
#include "support/win_test_env.h"

namespace starter::bench {
namespace {

constexpr std::uint16_t kRunPort = 9699;  // the stored port, kept by every run
constexpr char kSuccess[] = R"({"Dravel":0,"Selkan":0})";
constexpr int kTries = 4;

// Milliseconds of one run that printed the success line; a run disturbed by
// another user of the port range is repeated. Negative when none succeeded.
double TimeStarterRun(std::vector<RunWindow>& windows) {
  for (int attempt = 0; attempt < kTries; ++attempt) {
    const TimedRun run = RunTimed(test::StarterExe(), L"--Dravel Brimvale");
    if (run.finished && run.output == kSuccess) {
      windows.push_back(run.window);
      return run.Ms();
    }
    std::printf("  (disturbed run repeated: output \"%s\")\n", run.output.c_str());
  }
  return -1;
}

}  // namespace

bool BenchPortModeRun(const install::InstallLayout& layout, const Settings& settings) {
  std::printf("Whole run, port mode (--Dravel Brimvale), service already listening on %u\n", kRunPort);
  StopServices(layout);
  test::StandinListing tools;
  tools.ShowMachineTable();
  {
    test::ScopedEnvironmentVariable long_lived(L"STANDIN_LIFETIME_MS", L"600000");
    if (!StartListeningService(layout, kRunPort)) {
      std::printf("  the stand-in service did not come up\n");
      return false;
    }
  }
  // The copy each run launches finds the port taken and leaves at once.
  test::ScopedEnvironmentVariable short_lived(L"STANDIN_LIFETIME_MS", L"0");
  const std::wstring noop = test::TestBinDir() + L"\\bench_noop.exe";
  const std::wstring imports_noop = test::TestBinDir() + L"\\bench_imports_noop.exe";
  const std::string pipeline = "netstat -ano | findstr " + std::to_string(kRunPort);
  std::vector<RunWindow> windows;
  // The first run creates the marker files; later runs find them.
  if (TimeStarterRun(windows) < 0) return false;
  windows.clear();
  std::vector<double> starter, start_only, pipe_only, floor, imports_only;
  for (int round = 0; round < settings.rounds; ++round) {
    double noop_ms = 0, pipe_ms = 0;
    auto [run_ms, floor_ms] = SideBySide(round, [&] { return TimeStarterRun(windows); }, [&] {
      noop_ms = RunTimed(noop, L"").Ms();
      pipe_ms = TimePipeline(pipeline.c_str());
      return noop_ms + pipe_ms;
    });
    if (run_ms < 0) {
      StopServices(layout);
      return false;
    }
    starter.push_back(run_ms);
    start_only.push_back(noop_ms);
    pipe_only.push_back(pipe_ms);
    floor.push_back(floor_ms);
    imports_only.push_back(RunTimed(imports_noop, L"").Ms());
  }
  StopServices(layout);
  PrintFigure("starter run", starter);
  PrintFigure("no-op program", start_only);
  PrintFigure("netstat | findstr pipeline", pipe_only);
  PrintFigure("floor (no-op + pipeline)", floor);
  PrintFigure("no-op loading the starter's system DLLs", imports_only);
  const bool met = PrintRatio("starter / floor", starter, floor, 1.3);
  PrintStages(windows);
  return met;
}

}  // namespace starter::bench
