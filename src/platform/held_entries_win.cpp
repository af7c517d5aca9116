#include "platform/held_entries.h"

#include <cstring>
#include <vector>

#include "platform/system_facts.h"
#include "platform/ntdll.h"

namespace starter::platform {
namespace {

static_assert(kAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT);

// NtCreateFile's values (wdm.h), which the user-mode headers leave out.
constexpr ULONG kOpenIf = 3;
constexpr ULONG kDirectoryFile = 0x1;
constexpr ULONG kSynchronousIoNonAlert = 0x20;
constexpr ULONG kNonDirectoryFile = 0x40;
constexpr ULONG kOpenReparsePoint = 0x200000;
constexpr ULONG kCaseInsensitive = 0x40;
constexpr ULONG kFileRenameInformation = 10;

constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Opens or creates `name` in `folder`, the name itself and never what it links to.
Expected<UniqueHandle> OpenIn(HANDLE folder, std::wstring_view name, ACCESS_MASK access, ULONG sharing,
                              ULONG kind) {
  const auto create_file = Ntdll().create_file;
  if (!create_file) return NtStatusError("NtCreateFile", kStatusProcedureNotFound);
  const auto bytes = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  NtUnicodeString object_name{bytes, bytes, const_cast<PWSTR>(name.data())};
  NtObjectAttributes attributes{sizeof(attributes), folder, &object_name, kCaseInsensitive, nullptr, nullptr};
  NtIoStatusBlock io{};
  UniqueHandle entry;
  const LONG status = create_file(entry.put(), access | SYNCHRONIZE, &attributes, &io, nullptr,
                                  FILE_ATTRIBUTE_NORMAL, sharing, kOpenIf,
                                  kind | kSynchronousIoNonAlert | kOpenReparsePoint, nullptr, 0);
  if (status < 0) return NtStatusError("NtCreateFile", status);
  return entry;
}

}  // namespace

Expected<UniqueHandle> HoldFolderByPath(const std::wstring& path) {
  UniqueHandle folder(::CreateFileW(path.c_str(), kFolderAccess, kFolderSharing, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) return LastError("CreateFileW");
  return folder;
}

Expected<UniqueHandle> HoldFolderIn(HANDLE folder, std::wstring_view name) {
  return OpenIn(folder, name, kFolderAccess, kFolderSharing, kDirectoryFile);
}

Expected<UniqueHandle> OpenFileIn(HANDLE folder, std::wstring_view name, ACCESS_MASK access) {
  return OpenIn(folder, name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kNonDirectoryFile);
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
  // The record with its name behind it, and room for a terminator: some
  // systems want at least the record's declared size.
  const size_t bytes = name.size() * sizeof(wchar_t);
  constexpr size_t kNameOffset = offsetof(NtRenameInformation, file_name);
  std::vector<unsigned char> storage(kNameOffset + bytes + sizeof(wchar_t));
  auto* rename = reinterpret_cast<NtRenameInformation*>(storage.data());
  rename->replace_if_exists = TRUE;
  rename->root_directory = folder;
  rename->file_name_length = static_cast<ULONG>(bytes);
  std::memcpy(storage.data() + kNameOffset, name.data(), bytes);
  NtIoStatusBlock io{};
  const LONG status = set_information(entry, &io, rename, static_cast<ULONG>(storage.size()), kFileRenameInformation);
  if (status < 0) return NtStatusError("NtSetInformationFile", status);
  return std::nullopt;
}

}  // namespace starter::platform
