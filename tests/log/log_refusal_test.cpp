#include "log/log_refusal.h"

#include <gtest/gtest.h>

#include "log/log_location.h"

namespace starter::log {
namespace {

using platform::EntryFacts;

// Facts as Windows and wine report them for what another account may have
// put in the log's place. Junctions, object-manager targets and symbolic
// links cannot be made under wine: their answers are written out here.
TEST(LogRefusal, AnOwnFolderThatIsALinkOfAnyKindIsRefused) {
  struct Case {
    const char* name;
    EntryFacts held;
    std::uint32_t by_name;
    Refusal expected;
  };
  const Case cases[] = {
      {"plain folder", {0x10, 0, 1}, 0x10, Refusal::kNone},
      {"junction to another folder", {0x410, 0xA0000003, 1}, 0x410, Refusal::kLink},
      {"junction to the object manager's namespace (\\RPC Control)", {0x410, 0xA0000003, 1}, 0x410,
       Refusal::kLink},
      {"directory symbolic link", {0x410, 0xA000000C, 1}, 0x410, Refusal::kLink},
      {"a tag without the attribute", {0x10, 0xA0000003, 1}, 0x10, Refusal::kLink},
      {"wine: unix symbolic link, seen only by name", {0x10, 0, 1}, 0x410, Refusal::kLink},
      {"name not to be asked: the handle decides", {0x10, 0, 1}, 0, Refusal::kNone},
      {"name not to be asked, handle shows a junction", {0x410, 0xA0000003, 1}, 0, Refusal::kLink},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JudgeOwnFolder(c.held, c.by_name), c.expected);
  }
}

TEST(LogRefusal, TheLogFileIsRefusedWhenALinkOrAnotherFilesSecondName) {
  struct Case {
    const char* name;
    EntryFacts held;
    Refusal expected;
  };
  const Case cases[] = {
      {"plain file", {0x20, 0, 1}, Refusal::kNone},
      {"file created just now", {0x80, 0, 1}, Refusal::kNone},
      {"file symbolic link", {0x420, 0xA000000C, 1}, Refusal::kLink},
      {"mount point in the file's place", {0x400, 0xA0000003, 1}, Refusal::kLink},
      {"hard link to another file", {0x20, 0, 2}, Refusal::kSeveralNames},
      {"several hard links", {0x20, 0, 5}, Refusal::kSeveralNames},
      {"symbolic link with a second name", {0x420, 0xA000000C, 2}, Refusal::kLink},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JudgeLogFile(c.held), c.expected);
  }
}

TEST(LogRefusal, TheReasonNamesThePath) {
  EXPECT_EQ(RefusalText(Refusal::kLink, "C:\\a\\VanticLogs"), "Refused C:\\a\\VanticLogs: it is a link (reparse point)");
  EXPECT_EQ(RefusalText(Refusal::kSeveralNames, "C:\\a\\x.log"),
            "Refused C:\\a\\x.log: the file has another name (hard link)");
}

TEST(LogLocation, TheStartersOwnFoldersAreTheLastOnesOfThePath) {
  LogLocation log = SplitLogPath(L"C:\\Users\\Public\\Documents\\corvel\\VanticLogs\\zephra_vantic_starter.log", 2);
  EXPECT_EQ(log.system_folder, L"C:\\Users\\Public\\Documents");
  EXPECT_EQ(log.own_folders, (std::vector<std::wstring>{L"corvel", L"VanticLogs"}));
  EXPECT_EQ(log.file_name, L"zephra_vantic_starter.log");
  EXPECT_EQ(log.rotated_name, L"zephra_vantic_starter.1.log");
  EXPECT_EQ(log.FolderPath(1), L"C:\\Users\\Public\\Documents\\corvel");
  EXPECT_EQ(log.FilePath(), L"C:\\Users\\Public\\Documents\\corvel\\VanticLogs\\zephra_vantic_starter.log");

  LogLocation short_path = SplitLogPath(L"C:\\a\\test", 2);  // the drive stays the system's
  EXPECT_EQ(short_path.system_folder, L"C:");
  EXPECT_EQ(short_path.own_folders, (std::vector<std::wstring>{L"a"}));
  EXPECT_EQ(short_path.rotated_name, L"test.1");
}

}  // namespace
}  // namespace starter::log
