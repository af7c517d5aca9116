#include "platform/debug_privilege.h"

#include <windows.h>

#include "platform/handles.h"
#include "platform/system_facts.h"

namespace starter::platform {

Expected<bool> EnableDebugPrivilege() {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
    return LastError("OpenProcessToken");
  TOKEN_PRIVILEGES enable{};
  enable.PrivilegeCount = 1;
  enable.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &enable.Privileges[0].Luid))
    return LastError("LookupPrivilegeValueW");
  if (!::AdjustTokenPrivileges(token.get(), FALSE, &enable, 0, nullptr, nullptr))
    return LastError("AdjustTokenPrivileges");
  // The call succeeds also when the token lacks the privilege: only the
  // last error then says that nothing was enabled.
  return ::GetLastError() != ERROR_NOT_ALL_ASSIGNED;
}

}  // namespace starter::platform
