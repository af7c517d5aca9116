#include "service/start_exe.h"

#include "log/diag_log.h"
#include "platform/handles.h"
#include "platform/system_folders.h"
#include "service/launch_command.h"

namespace starter::service {

void StartExe(const std::wstring& java_runtime, const std::wstring& service_jar, bool temp_ready) {
  log::Info("starter temp: {}", temp_ready ? 1 : 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68);
  PROCESS_INFORMATION created{};

  // CreateProcessW may write into the command line, so it gets a buffer of its own.
  std::wstring command_line =
      BuildServiceCommandLine(service_jar, temp_ready, SystemDriveOf(platform::SystemWindowsDirectory()));
  log::Info(L"cmd->\"{}\"{}", java_runtime, command_line);

  if (!::CreateProcessW(java_runtime.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS, nullptr, nullptr, &startup, &created)) {
    log::Warn("CreateProcess GLE={}", ::GetLastError());
    return;
  }
  platform::UniqueHandle process(created.hProcess);
  platform::UniqueHandle thread(created.hThread);
  log::Info("CreateProcess succeeds");
  // The starter never waits for the service: nothing of it is kept.
  process.reset();
  thread.reset();
  log::Info("end");
}

}  // namespace starter::service
