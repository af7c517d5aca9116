#include "platform/file_removal.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/handles.h"
#include "platform/system_facts.h"

namespace starter::platform {
namespace {

// FILE_DISPOSITION_INFO_EX (Windows 10 1607; the flag that ignores the
// read-only attribute came with 1809). This build targets Windows 7, whose
// headers do not declare it.
struct DispositionInfoEx {
  DWORD flags;
};
static_assert(sizeof(DispositionInfoEx) == 4);
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class WinFileRemoval final : public FileRemovalSteps {
 public:
  explicit WinFileRemoval(std::wstring path) : path_(std::move(path)) {}

  Failure Open() override {
    // Attributes besides deletion, for the read-only one. A link planted
    // under the name is removed itself, never the file it points to; a
    // folder of that name does not open (no backup semantics), so it stays.
    file_.reset(::CreateFileW(path_.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file_) return LastError("CreateFileW");
    return std::nullopt;
  }

  Failure DeleteAtOnce() override {
    DispositionInfoEx disposition{kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
    return Set(kFileDispositionInfoEx, &disposition, sizeof(disposition),
               "SetFileInformationByHandle(FileDispositionInfoEx)");
  }

  Failure ClearReadOnly() override {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file_.get(), FileBasicInfo, &basic, sizeof(basic)))
      return LastError("GetFileInformationByHandleEx(FileBasicInfo)");
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) return std::nullopt;
    FILE_BASIC_INFO change{};  // times of 0 stay as they are
    change.FileAttributes = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (change.FileAttributes == 0) change.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return Set(FileBasicInfo, &change, sizeof(change), "SetFileInformationByHandle(FileBasicInfo)");
  }

  Failure MoveAside() override {
    // The process and the tick make the name unique; its ending tells anyone
    // who finds it in the folder what it is.
    const std::wstring aside = path_ + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                               std::to_wstring(::GetTickCount64()) + L".removed";
    const std::size_t name_bytes = aside.size() * sizeof(wchar_t);
    const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + name_bytes;
    std::vector<std::uint64_t> words((size + 7) / 8, 0);  // aligned for the record's handle field
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(words.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(rename->FileName, aside.data(), name_bytes);
    return Set(FileRenameInfo, rename, size, "SetFileInformationByHandle(FileRenameInfo)");
  }

  Failure MarkForDeletion() override {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return Set(FileDispositionInfo, &disposition, sizeof(disposition),
               "SetFileInformationByHandle(FileDispositionInfo)");
  }

  std::chrono::milliseconds Elapsed() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_);
  }

  void Pause(std::chrono::milliseconds duration) override { ::Sleep(static_cast<DWORD>(duration.count())); }

 private:
  Failure Set(FILE_INFO_BY_HANDLE_CLASS kind, void* record, std::size_t size, const char* call) {
    if (::SetFileInformationByHandle(file_.get(), kind, record, static_cast<DWORD>(size))) return std::nullopt;
    return LastError(call);
  }

  std::wstring path_;
  UniqueHandle file_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace

Failure RemoveFile(const std::wstring& path) {
  // The handle closes when the steps go: that is when a deletion takes effect.
  WinFileRemoval steps(path);
  return RemoveFileWith(steps);
}

}  // namespace starter::platform
