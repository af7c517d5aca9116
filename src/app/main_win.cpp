// zephra_vantic_starter: brings up the local Vantic service and tells its
// caller, in one line on standard output, whether it became ready. Every run
// goes through the same stages, top to bottom below; none of them stops the
// run, and the exit code is always 0: the line is the answer.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <optional>

#include "app/readiness_wait.h"
#include "app/run_limit.h"
#include "install/install_paths.h"
#include "install/markers.h"
#include "log/diag_log.h"
#include "log/diag_logger.h"
#include "log/escaped_text.h"
#include "log/starter_version.h"
#include "port/server_port.h"
#include "service/launch.h"
#include "service/process_detection.h"

namespace starter::app {
namespace {

// Exactly the bytes of the line, with no line end. Flushed at once, so a
// caller that reads as the output comes has it before the starter has
// released its watch and ended.
void WriteStatusLine(const std::string& line) {
  std::printf("%s", line.c_str());
  std::fflush(stdout);
}

// The run's limit is the first thing a run starts, before the logger below
// opens its file: the log's own folders and file may be what blocks. The
// limit and the run's wait print through the same single claim of the line,
// which is never destroyed: the limit may come while the run is exiting.
StatusLineOnce& g_status_line = *new StatusLineOnce(WriteStatusLine);  // NOLINT(cert-err58-cpp)
RunStage g_stage;
const platform::Failure g_run_limit_failed =  // NOLINT(cert-err58-cpp)
    StartRunLimit(contract::ClassifyCallerMode(__argc, __argv), g_status_line, g_stage);

// The diagnostic logger exists before the entry point runs, so that every
// stage, from the first, can log unconditionally. A log file that cannot be
// opened is dealt with inside; only exhausted memory could escape, and before
// the entry point there is nothing left to do about that.
const bool g_diagnostic_logger_created =  // NOLINT(cert-err58-cpp)
    (log::CreateDiagnosticLogger(), true);

constexpr int kTempProbeTries = 5;
constexpr DWORD kTempRetryDelayMs = 100;

bool ProbeTemp() {
  for (int attempt = 0; attempt < kTempProbeTries; ++attempt) {
    if (service::IsDefaultTempUsable()) return true;
    ::Sleep(kTempRetryDelayMs);
  }
  return false;
}

int RunStarter(int argc, char** argv) {
  log::ConfigureDiagnosticLog();
  log::Info("[ START ] {}", log::kStarterVersion);
  for (int i = 1; i < argc; ++i) log::Info("param {}->{}", i, log::EscapeControls(argv[i]));
  if (g_run_limit_failed) log::Warn("run has no time limit: {}", platform::Describe(*g_run_limit_failed));

  const install::InstallLayout layout = install::MakeInstallLayout(install::ReadProgramFilesFolder());

  g_stage.Enter("temp probe");
  const bool temp_ready = ProbeTemp();
  log::Info(temp_ready ? "default temp is ready" : "default temp is not ready");

  // Without a root every product path would name a folder at the root of the
  // current drive; nothing is deleted, created or launched from there.
  const bool have_root = !layout.root.empty();
  MachineProbe machine(layout.ConnectedMarker());
  if (have_root) {
    g_stage.Enter("stale marker");
    ClearStaleConnectedMarker(machine);
    g_stage.Enter("marker creation");
    install::CreateMissingMarkers(layout.markers);
  } else {
    log::Warn("install root unknown: marker files and service launch skipped");
  }

  g_stage.Enter("port selection");
  const std::uint16_t port = port::SelectServerPort(machine);
  log::Info("start exe {} ...", port);
  g_stage.Enter("launch");
  if (have_root) service::LaunchService(layout.java_runtime, layout.service_jar, temp_ready);

  g_stage.Enter("wait");
  log::Info("check case...");
  ReportReadiness(contract::ClassifyCallerMode(argc, argv), port, machine,
                  [](const std::string& line) { return g_status_line.Print(line); });

  g_stage.Enter("end");
  log::Info("[ END ]\n");
  log::Flush();
  return 0;
}

}  // namespace
}  // namespace starter::app

int main(int argc, char** argv) {
  // Stages report their troubles through their results; only something like
  // exhausted memory escapes one. Callers still get exit code 0 and a log line
  // rather than an abnormal end.
  try {
    return starter::app::RunStarter(argc, argv);
  } catch (const std::exception& error) {
    starter::log::Warn("run ended early: {}", error.what());
    starter::log::Flush();
    return 0;
  }
}
