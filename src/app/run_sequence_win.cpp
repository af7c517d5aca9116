#include "app/run_sequence.h"

#include "platform/win.h"

#include "app/check_case.h"
#include "app/stale_marker.h"
#include "install/install_paths.h"
#include "install/markers.h"
#include "install/install_root.h"
#include "log/diag_log.h"
#include "log/diag_logger.h"
#include "log/escaped_text.h"
#include "log/starter_version.h"
#include "port/server_port.h"
#include "service/process_detection.h"
#include "service/start_exe.h"
#include "service/temp_probe.h"

namespace starter::app {
namespace {

constexpr int kTempProbeTries = 5;
constexpr DWORD kTempRetryDelayMs = 100;

bool ProbeTemp() {
  for (int attempt = 0; attempt < kTempProbeTries; ++attempt) {
    if (service::CheckDefaultTemp()) return true;
    ::Sleep(kTempRetryDelayMs);
  }
  return false;
}

}  // namespace

int RunStarter(int argc, char** argv) {
  log::ConfigureDiagnosticLog();
  log::Info("[ START ] {}", log::kStarterVersion);
  for (int i = 1; i < argc; ++i) log::Info("param {}->{}", i, log::EscapeControls(argv[i]));

  const ResultLines result_lines;
  const install::InstallLayout layout = install::MakeInstallLayout(install::GetSpecialDir());

  const bool temp_ready = ProbeTemp();
  log::Info(temp_ready ? "default temp is ready" : "default temp is not ready");

  // Without a root every product path would name a folder at the root of the
  // current drive; nothing is deleted, created or launched from there.
  const bool have_root = !layout.root.empty();
  std::optional<install::LeftoverMarker> leftover;
  if (have_root) {
    leftover = ClearStaleConnectedMarker(service::IsServiceProcessRunning(0),
                                         [&] { return install::RemoveConnectedMarker(layout.connected_marker); });
    install::CreateMissingMarkers(layout.install_marker, layout.report_marker);
  } else {
    log::Warn("install root unknown: marker files and service launch skipped");
  }

  const std::uint16_t port = port::SelectServerPort();
  log::Info("start exe {} ...", port);
  if (have_root) service::StartExe(layout.java_runtime, layout.service_jar, temp_ready);

  log::Info("check case...");
  CheckCase(argc, argv, port, layout.connected_marker, leftover, result_lines);

  log::Info("[ END ]\n");
  log::Flush();
  return 0;
}

}  // namespace starter::app
