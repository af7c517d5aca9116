// A whole run of the starter in the port mode with the service already
// listening, against the least any run must cost: starting a no-op console
// program and running one netstat | findstr pipeline.
#include <cstdio>
#include <string>

#include "bench/bench_env.h"
#include "bench/benches.h"
#include "bench/figures.h"
#include "bench/stage_times.h"
#include "support/port_env.h"
#include "support/win_test_env.h"

namespace starter::bench {
namespace {

constexpr std::uint16_t kRunPort = 9699;  // the stored port, kept by every run
constexpr int kTries = 4;

// Milliseconds of one run that printed the success line; a run disturbed by
// another user of the port range is repeated. Negative when none succeeded.
double TimeStarterRun(std::vector<RunWindow>& windows) {
  for (int attempt = 0; attempt < kTries; ++attempt) {
    const TimedRun run = RunTimed(test::StarterExe(), L"--Dravel Brimvale");
    if (run.finished && run.output == test::kSuccess) {
      windows.push_back(run.window);
      return run.Ms();
    }
    std::printf("  (disturbed run repeated: output \"%s\")\n", run.output.c_str());
  }
  return -1;
}

struct RunFigures {
  std::vector<double> starter, noop, pipeline, floor, imports_noop;
  std::vector<RunWindow> windows;
};

// The service of these runs, started once and left listening throughout.
bool StartBackgroundService(const install::InstallLayout& layout) {
  test::ScopedEnvironmentVariable long_lived(L"STANDIN_LIFETIME_MS", L"600000");
  if (StartListeningService(layout, kRunPort)) return true;
  std::printf("  the stand-in service did not come up\n");
  return false;
}

bool MeasureRuns(const Settings& settings, RunFigures& figures) {
  // The copy each run launches finds the port taken and leaves at once.
  test::ScopedEnvironmentVariable short_lived(L"STANDIN_LIFETIME_MS", L"0");
  const std::wstring noop = test::TestBinDir() + L"\\bench_noop.exe";
  const std::wstring imports_noop = test::TestBinDir() + L"\\bench_imports_noop.exe";
  const std::string pipeline = "netstat -ano | findstr " + std::to_string(kRunPort);
  // The first run creates the marker files; later runs find them.
  std::vector<RunWindow> warm_up;
  if (TimeStarterRun(warm_up) < 0) return false;
  for (int round = 0; round < settings.rounds; ++round) {
    double noop_ms = 0, pipe_ms = 0;
    auto [run_ms, floor_ms] = SideBySide(round, [&] { return TimeStarterRun(figures.windows); }, [&] {
      noop_ms = RunTimed(noop, L"").Ms();
      pipe_ms = TimePipeline(pipeline.c_str());
      return noop_ms + pipe_ms;
    });
    if (run_ms < 0) return false;
    figures.starter.push_back(run_ms);
    figures.noop.push_back(noop_ms);
    figures.pipeline.push_back(pipe_ms);
    figures.floor.push_back(floor_ms);
    figures.imports_noop.push_back(RunTimed(imports_noop, L"").Ms());
  }
  return true;
}

bool PrintRuns(const RunFigures& figures, const std::string& setting) {
  PrintFigure("starter run, " + setting, figures.starter);
  PrintFigure("no-op program", figures.noop);
  PrintFigure("netstat | findstr pipeline", figures.pipeline);
  PrintFigure("floor (no-op + pipeline)", figures.floor);
  PrintFigure("no-op loading the starter's system DLLs", figures.imports_noop);
  return PrintRatio("starter / floor, " + setting, figures.starter, figures.floor, 1.3);
}

}  // namespace

bool BenchPortModeRun(const install::InstallLayout& layout, const Settings& settings) {
  std::printf("Whole run, port mode (--Dravel Brimvale), service already listening on %u\n", kRunPort);
  StopServices(layout);
  test::StandinListing tools;
  tools.ShowMachineTable();
  bool measured = StartBackgroundService(layout);
  bool met = false;
  // The target holds for a starter with a console, which its pipeline shares
  // as a bare one does; detached, each pipeline costs a console host more.
  for (const bool with_console : {true, false}) {
    const ConsoleSetting console(with_console);
    RunFigures figures;
    measured = measured && MeasureRuns(settings, figures);
    if (!measured) break;
    const bool ratio_met = PrintRuns(figures, console.Name());
    if (with_console) met = ratio_met;
    PrintStages(figures.windows);
  }
  StopServices(layout);
  return measured && met;
}

}  // namespace starter::bench
