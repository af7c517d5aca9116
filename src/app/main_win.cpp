// zephra_vantic_starter: brings up the local Vantic service and tells its
// caller, in one line on standard output, whether it became ready. Every run
// goes through the same stages, top to bottom below; none of them stops the
// run, and the exit code is always 0: the line is the answer.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <optional>

#include "app/readiness_wait.h"
#include "install/install_paths.h"
#include "install/markers.h"
#include "log/diag_log.h"
#include "log/diag_logger.h"
#include "log/escaped_text.h"
#include "log/starter_version.h"
#include "port/port_listening.h"
#include "port/server_port.h"
#include "service/launch.h"
#include "service/process_detection.h"

namespace starter::app {
namespace {

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

// The machine as the waits see it. With a `leftover` marker from an earlier
// run at the marker's name, only another marker counts.
ReadinessProbe MachineProbe(std::uint16_t port, const std::wstring& connected_marker,
                            const std::optional<install::LeftoverMarker>& leftover) {
  ReadinessProbe probe;
  probe.port_listening = [port] { return port::IsPortListening(port); };
  probe.service_running = [] { return service::IsServiceProcessRunning(0); };
  probe.marker_present = [&] { return install::IsConnectedMarkerPresent(connected_marker, leftover); };
  probe.watch_marker_folder = [&connected_marker] { return WatchMarkerFolder(connected_marker); };
  probe.watch_nothing = WatchNothing;
  return probe;
}

// Exactly the bytes of the line, with no line end. Flushed at once, so a
// caller that reads as the output comes has it before the starter has
// released its watch and ended.
void PrintStatusLine(const std::string& line) {
  std::printf("%s", line.c_str());
  std::fflush(stdout);
}

int RunStarter(int argc, char** argv) {
  log::ConfigureDiagnosticLog();
  log::Info("[ START ] {}", log::kStarterVersion);
  for (int i = 1; i < argc; ++i) log::Info("param {}->{}", i, log::EscapeControls(argv[i]));

  const install::InstallLayout layout = install::MakeInstallLayout(install::ReadProgramFilesFolder());

  const bool temp_ready = ProbeTemp();
  log::Info(temp_ready ? "default temp is ready" : "default temp is not ready");

  // Without a root every product path would name a folder at the root of the
  // current drive; nothing is deleted, created or launched from there.
  const bool have_root = !layout.root.empty();
  std::optional<install::LeftoverMarker> leftover;
  if (have_root) {
    leftover = ClearStaleConnectedMarker(service::IsServiceProcessRunning(0), [&] {
      return install::RemoveConnectedMarker(layout.ConnectedMarker());
    });
    install::CreateMissingMarkers(layout.markers);
  } else {
    log::Warn("install root unknown: marker files and service launch skipped");
  }

  const std::uint16_t port = port::SelectServerPort(service::IsServiceProcessRunning);
  log::Info("start exe {} ...", port);
  if (have_root) service::LaunchService(layout.java_runtime, layout.service_jar, temp_ready);

  log::Info("check case...");
  ReportReadiness(contract::ClassifyCallerMode(argc, argv), MachineProbe(port, layout.ConnectedMarker(), leftover),
                  PrintStatusLine);

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
