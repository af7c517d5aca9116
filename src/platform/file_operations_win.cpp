#include "platform/file_operations.h"

#include <cstddef>

#include "platform/file_removal.h"
#include "platform/ntdll.h"
#include "platform/system_facts.h"

namespace starter::platform {
namespace {

static_assert(kAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT);
static_assert(kShareAll == (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
static_assert(offsetof(FILE_RENAME_INFO, RootDirectory) == offsetof(RenameRecord, root_directory) &&
              offsetof(FILE_RENAME_INFO, FileNameLength) == offsetof(RenameRecord, file_name_length) &&
              offsetof(FILE_RENAME_INFO, FileName) == offsetof(RenameRecord, file_name));

// NtCreateFile's values (wdm.h), which the user-mode headers leave out.
constexpr ULONG kOpen = 1;
constexpr ULONG kOpenIf = 3;
constexpr ULONG kDirectoryFile = 0x1;
constexpr ULONG kSynchronousIoNonAlert = 0x20;
constexpr ULONG kNonDirectoryFile = 0x40;
constexpr ULONG kCompleteIfOplocked = 0x100;
constexpr ULONG kOpenReparsePoint = 0x200000;
constexpr ULONG kCaseInsensitive = 0x40;
constexpr ULONG kFileRenameInformation = 10;

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

constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// After the bound, how often the watch cancels again: a cancellation that
// came before the call reached its wait found nothing to cancel.
constexpr std::chrono::milliseconds kCancelAgainEvery{10};

// Opens `name` in `folder` (or creates it, as `disposition` says), the name
// itself and never what it links to.
Expected<UniqueHandle> OpenIn(HANDLE folder, std::wstring_view name, ACCESS_MASK access, ULONG sharing,
                              ULONG disposition, ULONG kind) {
  const auto create_file = Ntdll().create_file;
  if (!create_file) return NtStatusError("NtCreateFile", kStatusProcedureNotFound);
  const auto bytes = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  NtUnicodeString object_name{bytes, bytes, const_cast<PWSTR>(name.data())};
  // Other accounts may write these folders: should a name there ever lead
  // to a named pipe, its server may learn who opened it, never act as them.
  SECURITY_QUALITY_OF_SERVICE identification{sizeof(identification), SecurityIdentification,
                                             SECURITY_STATIC_TRACKING, FALSE};
  NtObjectAttributes attributes{sizeof(attributes), folder, &object_name, kCaseInsensitive, nullptr,
                                &identification};
  NtIoStatusBlock io{};
  UniqueHandle entry;
  const LONG status = create_file(entry.put(), access | SYNCHRONIZE, &attributes, &io, nullptr,
                                  FILE_ATTRIBUTE_NORMAL, sharing, disposition,
                                  kind | kSynchronousIoNonAlert | kOpenReparsePoint, nullptr, 0);
  if (Status opened = OpenStatus("NtCreateFile", static_cast<std::uint32_t>(status)); !opened.ok()) return opened.error();
  return entry;
}

// One SetFileInformationByHandle call, under a watch; a failure names the
// call with its class (`call`), as the log shows it.
Status SetInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* record, std::size_t size,
                      const char* call, std::chrono::milliseconds bound = kSetInformationBound) {
  SetInformationWatch watch(bound);
  return watch.Done(Win32Answer(::SetFileInformationByHandle(file, kind, record, static_cast<DWORD>(size)), call));
}

class WinFileRemoval final : public FileRemovalSteps {
 public:
  explicit WinFileRemoval(std::wstring path) : path_(std::move(path)) {}

  Status Open() override {
    // The folder by its path, as before the name; the name in it through
    // the call that can decline to wait for an oplock's break (CreateFileW
    // cannot). Attributes besides deletion, for the read-only one. A link
    // planted under the name is removed itself, never the file it points
    // to; a folder of that name does not open, so it stays.
    const PathParts parts = SplitPath(path_);
    if (!folder_) {
      const std::wstring folder = parts.folder.empty() ? L"." : std::wstring(parts.folder);
      Expected<UniqueHandle> opened = STARTER_OPEN(UniqueHandle, CreateFileW, folder.c_str(), FILE_TRAVERSE, kShareAll,
                                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (!opened.ok()) return opened.error();
      folder_ = std::move(*opened);
    }
    Expected<UniqueHandle> file =
        OpenExistingFileIn(folder_.get(), parts.name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (!file.ok()) return file.error();
    file_ = std::move(*file);
    return {};
  }

  Status DeleteAtOnce() override {
    DispositionInfoEx disposition{kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
    return SetInformation(file_.get(), kFileDispositionInfoEx, &disposition, sizeof(disposition),
                          "SetFileInformationByHandle(FileDispositionInfoEx)");
  }

  Status ClearReadOnly() override {
    FILE_BASIC_INFO basic{};
    if (Status got = Win32Answer(::GetFileInformationByHandleEx(file_.get(), FileBasicInfo, &basic, sizeof(basic)),
                                 "GetFileInformationByHandleEx(FileBasicInfo)");
        !got.ok())
      return got;
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) return {};
    FILE_BASIC_INFO change{};  // times of 0 stay as they are
    change.FileAttributes = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (change.FileAttributes == 0) change.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetInformation(file_.get(), FileBasicInfo, &change, sizeof(change),
                          "SetFileInformationByHandle(FileBasicInfo)");
  }

  Status MoveAside() override {
    // The process and the tick make the name unique; its ending tells anyone
    // who finds it in the folder what it is.
    const std::wstring aside = path_ + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                               std::to_wstring(::GetTickCount64()) + L".removed";
    RenameRequest rename = MakeRenameRequest(std::wstring_view(aside), false, nullptr);
    return SetInformation(file_.get(), FileRenameInfo, rename.record(), rename.size,
                          "SetFileInformationByHandle(FileRenameInfo)");
  }

  Status MarkForDeletion() override { return DeleteWhenClosed(file_.get(), kSetInformationBound); }

  std::chrono::milliseconds Elapsed() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_);
  }

  void Pause(std::chrono::milliseconds duration) override { ::Sleep(static_cast<DWORD>(duration.count())); }

 private:
  std::wstring path_;
  UniqueHandle folder_;
  UniqueHandle file_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace

Status DeleteWhenClosed(HANDLE file, std::chrono::milliseconds bound) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetInformation(file, FileDispositionInfo, &disposition, sizeof(disposition),
                        "SetFileInformationByHandle(FileDispositionInfo)", bound);
}

Expected<UniqueHandle> HoldFolderByPath(const std::wstring& path) {
  // Identification only, as for every open here (OpenIn).
  return STARTER_OPEN(UniqueHandle, CreateFileW, path.c_str(), kFolderAccess, kFolderSharing, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
}

Expected<UniqueHandle> HoldFolderIn(HANDLE folder, std::wstring_view name) {
  return OpenIn(folder, name, kFolderAccess, kFolderSharing, kOpenIf, kDirectoryFile);
}

Expected<UniqueHandle> HoldExistingFolderIn(HANDLE folder, std::wstring_view name) {
  return OpenIn(folder, name, kFolderAccess, kFolderSharing, kOpen, kDirectoryFile);
}

// Any account that can open a file here can hold a batch or read-write-handle
// oplock on it, and an open for writing or deletion would then wait for its
// break with no limit: the open completes at once instead.
Expected<UniqueHandle> OpenExistingFileIn(HANDLE folder, std::wstring_view name, ACCESS_MASK access) {
  return OpenIn(folder, name, access, kShareAll, kOpen, kNonDirectoryFile | kCompleteIfOplocked);
}

// See OpenExistingFileIn for why the open does not wait for an oplock's break.
Expected<UniqueHandle> OpenFileIn(HANDLE folder, std::wstring_view name, ACCESS_MASK access) {
  return OpenIn(folder, name, access, kShareAll, kOpenIf, kNonDirectoryFile | kCompleteIfOplocked);
}

Expected<EntryFacts> QueryEntryFacts(HANDLE entry) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (Status got = STARTER_CALL(GetFileInformationByHandleEx, entry, FileAttributeTagInfo, &tag, sizeof(tag));
      !got.ok())
    return got.error();
  FILE_STANDARD_INFO standard{};
  if (Status got = STARTER_CALL(GetFileInformationByHandleEx, entry, FileStandardInfo, &standard, sizeof(standard));
      !got.ok())
    return got.error();
  return EntryFacts{tag.FileAttributes, tag.ReparseTag, standard.NumberOfLinks};
}

Expected<FileIdentity> ReadFileIdentity(const std::wstring& path) {
  // Attribute access only: the system checks no sharing for it, so neither a
  // writer's handle nor one without any sharing keeps the look out.
  const Expected<UniqueHandle> file = STARTER_OPEN(UniqueHandle, CreateFileW, path.c_str(), FILE_READ_ATTRIBUTES,
                                                   kShareAll, nullptr, OPEN_EXISTING,
                                                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (!file.ok()) return file.error();
  BY_HANDLE_FILE_INFORMATION information{};
  if (Status got = STARTER_CALL(GetFileInformationByHandle, file->get(), &information); !got.ok()) return got.error();
  FileIdentity identity;
  identity.volume = information.dwVolumeSerialNumber;
  identity.index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  identity.last_write = TicksOf(information.ftLastWriteTime);
  return identity;
}

Status RenameInto(HANDLE entry, HANDLE folder, std::wstring_view name) {
  const auto set_information = Ntdll().set_information_file;
  if (!set_information) return NtStatusError("NtSetInformationFile", kStatusProcedureNotFound);
  // With a terminator, the record is at least as long as declared, which
  // some systems want.
  RenameRequest rename = MakeRenameRequest(name, true, folder);
  NtIoStatusBlock io{};
  SetInformationWatch watch;
  const LONG status = set_information(entry, &io, rename.record(), rename.size, kFileRenameInformation);
  return watch.Done(status < 0 ? Status(NtStatusError("NtSetInformationFile", static_cast<std::uint32_t>(status)))
                                : Status());
}

Status RemoveFile(const std::wstring& path) {
  // The handle closes when the steps go: that is when a deletion takes effect.
  WinFileRemoval steps(path);
  return RemoveFileWith(steps);
}

SetInformationWatch::SetInformationWatch(std::chrono::milliseconds bound) {
  // A handle that cannot be had (the handle table full) leaves the call
  // unwatched, as every call was before Windows Vista.
  Expected<UniqueHandle> caller = OwnThreadHandle(THREAD_TERMINATE);
  if (!caller.ok()) return;
  caller_ = std::move(*caller);
  watcher_ = std::thread(&SetInformationWatch::Watch, this, bound);
}

SetInformationWatch::~SetInformationWatch() {
  static_cast<void>(Done({}));
  if (watcher_.joinable()) watcher_.join();
}

Status SetInformationWatch::Done(Status answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  returned_.notify_one();
  return WatchedAnswer(answer, cancelled_);
}

void SetInformationWatch::Watch(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (returned_.wait_for(lock, bound, [this] { return done_; })) return;
  // Each cancellation is made under the lock that Done() takes: the call has
  // not returned yet, so it is this call's wait that is cancelled and never
  // a later call of the same thread.
  while (!done_) {
    if (::CancelSynchronousIo(caller_.get())) cancelled_ = true;
    returned_.wait_for(lock, kCancelAgainEvery, [this] { return done_; });
  }
}

}  // namespace starter::platform
