#include "service/start_exe.h"

#include "log/diag_log.h"
#include "platform/process_start.h"
#include "platform/system_folders.h"
#include "service/launch_command.h"

namespace starter::service {

void StartExe(const std::wstring& java_runtime, const std::wstring& service_jar, bool temp_ready) {
  log::Info("starter temp: {}", temp_ready ? 1 : 0);
  const std::wstring command_line =
      BuildServiceCommandLine(service_jar, temp_ready, SystemDriveOf(platform::SystemWindowsDirectory()));
  log::Info(L"cmd->\"{}\"{}", java_runtime, command_line);

  platform::Expected<platform::ProcessInformation> started = platform::StartDetached(java_runtime, command_line);
  if (!started) {
    log::Warn("CreateProcess GLE={}", started.error().code);
    return;
  }
  log::Info("CreateProcess succeeds");
  // The starter never waits for the service: nothing of it is kept.
  started->Close();
  log::Info("end");
}

}  // namespace starter::service
