#include "platform/held_entries.h"

#include "platform/system_facts.h"
#include "platform/ntdll.h"
#include "platform/rename_record.h"

namespace starter::platform {
namespace {

static_assert(kAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT);

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

constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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
  if (Failure failed = FailedOpen("NtCreateFile", static_cast<std::uint32_t>(status))) return *failed;
  return entry;
}

}  // namespace

Expected<UniqueHandle> HoldFolderByPath(const std::wstring& path) {
  // Identification only, as for every open here (OpenIn).
  UniqueHandle folder(::CreateFileW(path.c_str(), kFolderAccess, kFolderSharing, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                    nullptr));
  if (!folder) return LastError("CreateFileW");
  return folder;
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
Expected<UniqueHandle> OpenFileIn(HANDLE folder, std::wstring_view name, ACCESS_MASK access) {
  return OpenIn(folder, name, access, kShareAll, kOpenIf, kNonDirectoryFile | kCompleteIfOplocked);
}

Expected<UniqueHandle> OpenExistingFileIn(HANDLE folder, std::wstring_view name, ACCESS_MASK access) {
  return OpenIn(folder, name, access, kShareAll, kOpen, kNonDirectoryFile | kCompleteIfOplocked);
}

Expected<EntryFacts> QueryEntryFacts(HANDLE entry) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!::GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag, sizeof(tag)))
    return LastError("GetFileInformationByHandleEx");
  FILE_STANDARD_INFO standard{};
  if (!::GetFileInformationByHandleEx(entry, FileStandardInfo, &standard, sizeof(standard)))
    return LastError("GetFileInformationByHandleEx");
  return EntryFacts{tag.FileAttributes, tag.ReparseTag, standard.NumberOfLinks};
}

Failure RenameInto(HANDLE entry, HANDLE folder, std::wstring_view name) {
  const auto set_information = Ntdll().set_information_file;
  if (!set_information) return NtStatusError("NtSetInformationFile", kStatusProcedureNotFound);
  // With a terminator, the record is at least as long as declared, which
  // some systems want.
  RenameRequest rename = MakeRenameRequest(name, true, folder);
  NtIoStatusBlock io{};
  const LONG status = set_information(entry, &io, rename.record(), rename.size, kFileRenameInformation);
  if (status < 0) return NtStatusError("NtSetInformationFile", status);
  return std::nullopt;
}

}  // namespace starter::platform
