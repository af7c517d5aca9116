#include "log/shared_file_sink.h"

#include <sddl.h>

namespace starter::log {
namespace {

// The owner keeps full access; every other account may wait on the mutex
// and release it (SYNCHRONIZE | MUTEX_MODIFY_STATE), and nothing more. No
// integrity label is needed: both rights count as reading and executing in
// a mutex's generic mapping, which a lower integrity level may still use.
constexpr wchar_t kEveryAccountMayWaitAndRelease[] = L"D:(A;;0x001F0001;;;OW)(A;;0x00100001;;;WD)";
constexpr DWORD kWaitAndRelease = SYNCHRONIZE | MUTEX_MODIFY_STATE;

}  // namespace

platform::UniqueHandle OpenWritersMutex(const std::wstring& log_path) {
  // Without the descriptor the mutex gets the creator's default security:
  // still shared by the creator's own account.
  platform::UniqueLocalMemory descriptor;
  ::ConvertStringSecurityDescriptorToSecurityDescriptorW(kEveryAccountMayWaitAndRelease, SDDL_REVISION_1,
                                                         descriptor.put(), nullptr);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};

  platform::UniqueHandle mutex;
  const std::wstring name = WritersMutexName(log_path);
  auto scoped = [&name](MutexScope scope) { return (scope == MutexScope::kGlobal ? L"Global\\" : L"Local\\") + name; };
  auto take = [&mutex](HANDLE handle) {
    mutex.reset(handle);
    if (mutex) return MutexCall::kGot;
    return ::GetLastError() == ERROR_ACCESS_DENIED ? MutexCall::kAccessDenied : MutexCall::kFailed;
  };
  ObtainWritersMutex(
      [&](MutexScope scope) { return take(::CreateMutexW(&attributes, FALSE, scoped(scope).c_str())); },
      [&](MutexScope scope) { return take(::OpenMutexW(kWaitAndRelease, FALSE, scoped(scope).c_str())); });
  return mutex;
}

WritersLock::WritersLock(HANDLE mutex, LockPatience& patience) : mutex_(mutex) {
  if (!mutex_) return;
  const DWORD wait = ::WaitForSingleObject(mutex_, patience.NextWaitMs());
  // An abandoned mutex is owned all the same: its last owner died mid-write.
  held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  patience.Record(wait == WAIT_TIMEOUT);
}

WritersLock::~WritersLock() {
  if (held_) ::ReleaseMutex(mutex_);
}

}  // namespace starter::log
