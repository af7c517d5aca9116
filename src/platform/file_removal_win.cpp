#include "platform/file_removal.h"

#include <cstddef>

#include "platform/handles.h"
#include "platform/held_entries.h"
#include "platform/rename_record.h"
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

static_assert(offsetof(FILE_RENAME_INFO, RootDirectory) == offsetof(RenameRecord, root_directory) &&
              offsetof(FILE_RENAME_INFO, FileNameLength) == offsetof(RenameRecord, file_name_length) &&
              offsetof(FILE_RENAME_INFO, FileName) == offsetof(RenameRecord, file_name));

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Where `path` divides into its folder (with its last backslash, so "C:\"
// stays the root) and the name in it.
std::size_t NameStart(const std::wstring& path) { return path.find_last_of(L"\\/") + 1; }
std::wstring FolderOf(const std::wstring& path) {
  const std::size_t start = NameStart(path);
  return start == 0 ? L"." : path.substr(0, start);
}
std::wstring_view NameOf(const std::wstring& path) { return std::wstring_view(path).substr(NameStart(path)); }

class WinFileRemoval final : public FileRemovalSteps {
 public:
  explicit WinFileRemoval(std::wstring path) : path_(std::move(path)) {}

  Failure Open() override {
    // The folder by its path, as before the name; the name in it through
    // the call that can decline to wait for an oplock's break (CreateFileW
    // cannot). Attributes besides deletion, for the read-only one. A link
    // planted under the name is removed itself, never the file it points
    // to; a folder of that name does not open, so it stays.
    if (!folder_) {
      folder_.reset(::CreateFileW(FolderOf(path_).c_str(), FILE_TRAVERSE, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      if (!folder_) return LastError("CreateFileW");
    }
    Expected<UniqueHandle> file =
        OpenExistingFileIn(folder_.get(), NameOf(path_), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (!file) return file.error();
    file_ = std::move(*file);
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
    RenameRequest rename = MakeRenameRequest(std::wstring_view(aside), false, nullptr);
    return Set(FileRenameInfo, rename.record(), rename.size, "SetFileInformationByHandle(FileRenameInfo)");
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
  UniqueHandle folder_;
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
