#pragma once
// What the system reports of files and folders, and the records it is
// handed about them, as plain values, so decisions about them are made and
// tested anywhere. The numbers are the system's own (FILE_ATTRIBUTE_*,
// FILE_SHARE_*, IO_REPARSE_TAG_*, NTSTATUS).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/system_error.h"

namespace starter::platform {

// A link of some kind: a junction, a symbolic link, a mount point, or
// another filter's redirection.
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;

// FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE: an open that
// stands in no other program's way.
inline constexpr std::uint32_t kShareAll = 0x1 | 0x2 | 0x4;

// What a file or folder the starter holds open is: its attributes, whether
// it is a link, how many names it has.
struct EntryFacts {
  std::uint32_t attributes = 0;
  std::uint32_t reparse_tag = 0;  // 0 unless the entry is a reparse point
  std::uint32_t link_count = 1;   // names the file has in the volume (hard links)
};

// Which file stands at a name, and when it was last written: enough to tell a
// file seen earlier from another put in its place, and from the same file
// written since.
struct FileIdentity {
  std::uint32_t volume = 0;      // volume serial number
  std::uint64_t index = 0;       // file index on that volume
  std::uint64_t last_write = 0;  // FILETIME, 100 ns since 1601 (UTC)
};

// A path divided at its last separator (a backslash or a slash): the folder
// without that separator, except that a root keeps it ("C:\" stays a root,
// "C:" would name the drive's current folder), and the name in it. A path
// without a separator is a name alone, with an empty folder.
struct PathParts {
  std::wstring_view folder;
  std::wstring_view name;
};

inline PathParts SplitPath(std::wstring_view path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring_view::npos) return {{}, path};
  const bool root = separator == 0 || (separator == 2 && path[1] == L':');
  return {path.substr(0, root ? separator + 1 : separator), path.substr(separator + 1)};
}

// How long a rename or a change of a file's disposition may wait before it
// is cancelled and counted as "not now". Such a call first breaks a batch,
// filter, read-handle or read-write-handle oplock that another program holds
// on the file, and waits for that program to acknowledge the break, with no
// limit of its own: any account that can read the file can take such an
// oplock and never acknowledge. On a healthy machine the call ends within a
// millisecond; a virus scanner that looks at the file first, a busy disk
// or a machine paging hard stretch that to tens of milliseconds, and an
// acknowledging holder answers within that time too. A quarter of a second
// is well beyond all of these, yet small against the removal's two seconds
// and against a run's limit when the log's rotation meets it.
inline constexpr std::chrono::milliseconds kSetInformationBound{250};

// The record that renames an open file (FILE_RENAME_INFO; ntdll's
// FILE_RENAME_INFORMATION has the same layout), with the new name behind it.
// The record gives the name's length, but some systems read the name up to
// a terminating NUL (wine's SetFileInformationByHandle converts it as a
// path): a record that ends right after the name there takes whatever
// bytes follow it in memory for more of the name. So it always carries one.
struct RenameRecord {
  std::uint8_t replace_if_exists;  // BOOLEAN
  void* root_directory;            // HANDLE: the name is relative to this folder when not null
  std::uint32_t file_name_length;  // in bytes, without the terminator
  char16_t file_name[1];
};

static_assert(sizeof(void*) != 4 || (offsetof(RenameRecord, file_name) == 12 && sizeof(RenameRecord) == 16));
static_assert(sizeof(void*) != 8 || (offsetof(RenameRecord, file_name) == 20 && sizeof(RenameRecord) == 24));

// A record with its name and the name's NUL, in storage aligned for the
// record's handle field, and the size the call is to be told.
struct RenameRequest {
  std::vector<std::uint64_t> storage;
  std::uint32_t size = 0;  // the record's head, the name and its NUL, in bytes

  RenameRecord* record() { return reinterpret_cast<RenameRecord*>(storage.data()); }
};

// The request that renames a file to `name`, in UTF-16 units (a wchar_t is
// one on Windows), replacing a file of that name or not.
template <typename Unit, typename = std::enable_if_t<sizeof(Unit) == sizeof(char16_t)>>
RenameRequest MakeRenameRequest(std::basic_string_view<Unit> name, bool replace_if_exists, void* root_directory) {
  constexpr std::size_t kNameOffset = offsetof(RenameRecord, file_name);
  const std::size_t name_bytes = name.size() * sizeof(Unit);
  const std::size_t size = kNameOffset + name_bytes + sizeof(char16_t);
  RenameRequest request;
  request.storage.assign((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);  // the NUL is among the zeros
  request.size = static_cast<std::uint32_t>(size);
  RenameRecord* record = request.record();
  record->replace_if_exists = replace_if_exists ? 1 : 0;
  record->root_directory = root_directory;
  record->file_name_length = static_cast<std::uint32_t>(name_bytes);
  std::memcpy(reinterpret_cast<unsigned char*>(request.storage.data()) + kNameOffset, name.data(), name_bytes);
  return request;
}

}  // namespace starter::platform
