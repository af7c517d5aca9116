// Records the system is handed about files, and how a path divides.
#include "platform/file_facts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace starter::platform {
namespace {

// The folder keeps a root's separator, and only a root's: the removal opens
// the folder by this path, and "C:" alone names the drive's current folder.
TEST(SplitPath, TheFolderIsThePathUpToItsLastSeparatorARootKeepingIt) {
  struct Case {
    const wchar_t* path;
    const wchar_t* folder;
    const wchar_t* name;
  };
  const Case cases[] = {
      {L"C:\\Program Files\\corvel\\WsClientConnected.json", L"C:\\Program Files\\corvel", L"WsClientConnected.json"},
      {L"C:\\x.log", L"C:\\", L"x.log"},
      {L"\\x.log", L"\\", L"x.log"},
      {L"C:/Temp/x", L"C:/Temp", L"x"},
      {L"x.log", L"", L"x.log"},
      {L"C:\\Temp\\", L"C:\\Temp", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
    const PathParts parts = SplitPath(c.path);
    EXPECT_EQ(parts.folder, c.folder);
    EXPECT_EQ(parts.name, c.name);
  }
}

// Names of eight consecutive lengths: the record's head and the name end on
// each even byte count modulo 8, the multiple of 8 among them, where storage
// of whole 8-byte words has no room left over for a terminator by chance.
TEST(RenameRequest, TheNameIsFollowedByANulWhateverItsLength) {
  constexpr std::size_t kNameOffset = offsetof(RenameRecord, file_name);
  int classes_seen = 0;
  for (std::size_t length = 1; length <= 8; ++length) {
    SCOPED_TRACE(length);
    const std::u16string name(length, u'm');
    int root = 0;
    RenameRequest request = MakeRenameRequest(std::u16string_view(name), false, &root);
    const auto* bytes = reinterpret_cast<const unsigned char*>(request.storage.data());
    const std::size_t name_end = kNameOffset + length * sizeof(char16_t);
    if (name_end % 8 == 0) ++classes_seen;
    EXPECT_EQ(request.size, name_end + sizeof(char16_t));
    ASSERT_GE(request.storage.size() * sizeof(std::uint64_t), request.size);
    EXPECT_EQ(std::memcmp(bytes + kNameOffset, name.data(), name.size() * sizeof(char16_t)), 0);
    EXPECT_EQ(bytes[name_end], 0);
    EXPECT_EQ(bytes[name_end + 1], 0);
    EXPECT_EQ(request.record()->file_name_length, length * sizeof(char16_t));
    EXPECT_EQ(request.record()->replace_if_exists, 0);
    EXPECT_EQ(request.record()->root_directory, &root);
  }
  EXPECT_EQ(classes_seen, 2);
  EXPECT_EQ(MakeRenameRequest(std::u16string_view(u"x"), true, nullptr).record()->replace_if_exists, 1);
}

}  // namespace
}  // namespace starter::platform
