#include "log/shared_file_sink.h"

#include <sddl.h>
#include <spdlog/common.h>

#include "log/utf8.h"
#include "log/writers_mutex.h"

namespace starter::log {
namespace {

// How long a writer waits for another before writing without the lock: a
// starter that hangs while holding it must not stop every other one.
constexpr DWORD kLockWaitMs = 5000;

std::wstring MutexName(const std::wstring& path) {
  std::wstring name = L"zephra_vantic_starter_log:";
  for (wchar_t c : path) name += (c == L'\\') ? L'/' : static_cast<wchar_t>(towlower(c));
  return name;
}

// The owner keeps full access; every other account may wait on the mutex
// and release it (SYNCHRONIZE | MUTEX_MODIFY_STATE), and nothing more. No
// integrity label is needed: both rights count as reading and executing in
// a mutex's generic mapping, which a lower integrity level may still use.
constexpr wchar_t kEveryAccountMayWaitAndRelease[] = L"D:(A;;0x001F0001;;;OW)(A;;0x00100001;;;WD)";
constexpr DWORD kWaitAndRelease = SYNCHRONIZE | MUTEX_MODIFY_STATE;

platform::UniqueHandle OpenWritersMutex(const std::wstring& path) {
  // Without the descriptor the mutex gets the creator's default security:
  // still shared by the creator's own account.
  platform::UniqueLocalMemory descriptor;
  ::ConvertStringSecurityDescriptorToSecurityDescriptorW(kEveryAccountMayWaitAndRelease, SDDL_REVISION_1,
                                                         descriptor.put(), nullptr);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};

  platform::UniqueHandle mutex;
  auto name = [&path](MutexScope scope) {
    return (scope == MutexScope::kGlobal ? L"Global\\" : L"Local\\") + MutexName(path);
  };
  auto take = [&mutex](HANDLE handle) {
    mutex.reset(handle);
    if (mutex) return MutexCall::kGot;
    return ::GetLastError() == ERROR_ACCESS_DENIED ? MutexCall::kAccessDenied : MutexCall::kFailed;
  };
  ObtainWritersMutex(
      [&](MutexScope scope) { return take(::CreateMutexW(&attributes, FALSE, name(scope).c_str())); },
      [&](MutexScope scope) { return take(::OpenMutexW(kWaitAndRelease, FALSE, name(scope).c_str())); });
  return mutex;
}

class WritersLock {
 public:
  explicit WritersLock(HANDLE mutex) : mutex_(mutex) {
    if (!mutex_) return;
    DWORD wait = ::WaitForSingleObject(mutex_, kLockWaitMs);
    // An abandoned mutex is owned all the same: its last owner died mid-write.
    held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  WritersLock(const WritersLock&) = delete;
  WritersLock& operator=(const WritersLock&) = delete;
  ~WritersLock() {
    if (held_) ::ReleaseMutex(mutex_);
  }

 private:
  HANDLE mutex_;
  bool held_ = false;
};

[[noreturn]] void ThrowLastError(const char* what, const std::wstring& path) {
  throw spdlog::spdlog_ex(std::string(what) + " " + WideToUtf8(path), static_cast<int>(::GetLastError()));
}

// Creates every missing folder of `folder`, outermost first.
void CreateFolders(const std::wstring& folder) {
  for (size_t pos = folder.find(L'\\', 3); ; pos = folder.find(L'\\', pos + 1)) {
    ::CreateDirectoryW(folder.substr(0, pos).c_str(), nullptr);
    if (pos == std::wstring::npos) return;
  }
}

}  // namespace

SharedFileSink::SharedFileSink(std::wstring path, std::wstring rotated_path, std::uint64_t max_size)
    : path_(std::move(path)), rotated_path_(std::move(rotated_path)), max_size_(max_size),
      writers_mutex_(OpenWritersMutex(path_)) {
  size_t slash = path_.rfind(L'\\');
  if (slash != std::wstring::npos) CreateFolders(path_.substr(0, slash));
  // A file that another program holds without write sharing is ours again
  // once it lets go, and every line opens the file anew: only a file that
  // cannot be opened at all fails the creation.
  if (!OpenForAppend()) {
    DWORD error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION)
      ThrowLastError("Failed opening file", path_);
  }
}

platform::UniqueHandle SharedFileSink::OpenForAppend() const {
  // Append-only access makes each write land at the end of the file; read,
  // write and delete sharing let other starters write and rotate meanwhile.
  return platform::UniqueHandle(::CreateFileW(
      path_.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL, nullptr));
}

void SharedFileSink::RotateIfFull(platform::UniqueHandle& file, std::uint64_t incoming) const {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return;
  auto current = static_cast<std::uint64_t>(size.QuadPart);
  if (current == 0 || current + incoming <= max_size_) return;
  file.reset();
  // A reader that does not share deletion (a log viewer, say), or a folder
  // in which nothing may be renamed, keeps the full file in place: the line
  // then goes on into it rather than being lost, and the next line tries again.
  ::MoveFileExW(path_.c_str(), rotated_path_.c_str(), MOVEFILE_REPLACE_EXISTING);
  file = OpenForAppend();
}

void SharedFileSink::sink_it_(const spdlog::details::log_msg& msg) {
  spdlog::memory_buf_t line;
  formatter_->format(msg, line);

  WritersLock lock(writers_mutex_.get());
  platform::UniqueHandle file = OpenForAppend();
  if (!file) ThrowLastError("Failed opening file", path_);
  RotateIfFull(file, line.size());
  if (!file) ThrowLastError("Failed reopening file", path_);

  DWORD written = 0;
  if (!::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
      written != line.size())
    ThrowLastError("Failed writing to file", path_);
}

}  // namespace starter::log
