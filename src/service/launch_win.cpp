#include "service/launch.h"

#include <windows.h>

#include <sys/stat.h>

#include <string>

#include "log/diag_log.h"
#include "platform/process_start.h"
#include "platform/system_error.h"
#include "platform/system_facts.h"

namespace starter::service {
namespace {

// Room for any environment value (at most 32,767 characters) and its
// terminator, and no more: the system counts the buffer in 16-bit byte
// lengths, so a larger size wraps around and a value of the full length is
// reported as not fitting (the size it needs comes back, the buffer stays
// empty).
constexpr DWORD kValueBufferSize = 32768;
constexpr unsigned kDirectoryModeBit = 0x4000;

}  // namespace

bool IsDefaultTempUsable() {
  log::Info("start");
  std::wstring value(kValueBufferSize, L'\0');
  DWORD length = ::GetEnvironmentVariableW(L"TEMP", value.data(), kValueBufferSize);
  if (length == 0 || length >= kValueBufferSize) {
    log::Info("TEMP empty");
    return false;
  }
  value.resize(length);
  log::Info(L"TEMP->{}", value);

  struct _stat64 status {};
  if (::_wstat64(FolderToQuery(value).c_str(), &status) != 0) {
    const platform::SystemError failed = platform::ErrnoError("_wstat64");
    log::Info(L"cannot access->{}", value);
    log::Info("{}", Describe(failed));
    return false;
  }
  if (status.st_mode & kDirectoryModeBit) {
    log::Debug(L"a directory->{}", value);
    return true;
  }
  // A file is no temp folder: Java would fail to create its temporary files
  // there, so the launch is told to use the fixed folder instead.
  log::Info(L"not a directory->{}", value);
  return false;
}


void LaunchService(const std::wstring& java_runtime, const std::wstring& service_jar, bool temp_ready) {
  log::Info("starter temp: {}", temp_ready ? 1 : 0);
  const std::wstring command_line =
      BuildServiceCommandLine(service_jar, temp_ready, SystemDriveOf(platform::SystemWindowsDirectory()));
  log::Info(L"cmd->\"{}\"{}", java_runtime, command_line);

  platform::Expected<platform::ProcessInformation> started = platform::StartDetached(java_runtime, command_line);
  if (!started.ok()) {
    log::Warn("CreateProcess GLE={}", started.error().code);
    return;
  }
  log::Info("CreateProcess succeeds");
  // The starter never waits for the service: nothing of it is kept.
  started->Close();
  log::Info("end");
}

}  // namespace starter::service
