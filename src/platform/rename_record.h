#pragma once
// The record that renames an open file (FILE_RENAME_INFO; ntdll's
// FILE_RENAME_INFORMATION has the same layout), with the new name behind it.
// The record gives the name's length, but some systems read the name up to
// a terminating NUL (wine's SetFileInformationByHandle converts it as a
// path): a record that ends right after the name there takes whatever
// bytes follow it in memory for more of the name. So it always carries one.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

namespace starter::platform {

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
