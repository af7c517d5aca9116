#include "service/start_exe.h"

#include "install/install_paths.h"
#include "log/diag_log.h"
#include "platform/handles.h"
#include "service/launch_command.h"

namespace starter::service {

void StartExe(const std::wstring& install_root, int temp_ready) {
  log::Info("starter temp: {}", temp_ready);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68);
  PROCESS_INFORMATION created{};

  const std::wstring runtime = install::MakeInstallPath(install_root, install::kJavaRuntimePath);
  // CreateProcessW may write into the command line, so it gets a buffer of its own.
  std::wstring command_line = BuildServiceCommandLine(install_root, temp_ready != 0);
  log::Info(L"cmd->\"{}\"{}", runtime, command_line);

  if (!::CreateProcessW(runtime.c_str(), command_line.data(), nullptr, nullptr, FALSE,
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
