#include "service/launch.h"

#include <gtest/gtest.h>

namespace starter::service {
namespace {

constexpr wchar_t kJar[] = L"C:\\Program Files\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar";

TEST(ServiceCommandLine, EmptyProgramTokenThenOptionsThenQuotedJar) {
  EXPECT_EQ(BuildServiceCommandLine(kJar, true, L"C:"),
            L" -Djava.net.preferIPv4Stack=true -jar \"C:\\Program Files\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar\"");
  EXPECT_EQ(BuildServiceCommandLine(kJar, false, L"C:"),
            L" -Djava.net.preferIPv4Stack=true -Djava.io.tmpdir=\"C:\\Windows\\Temp\" "
            L"-Djna.tmpdir=\"C:\\Windows\\Temp\" -jar \"C:\\Program Files\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar\"");
}

TEST(ServiceCommandLine, TheTempOptionsNameTheDriveWindowsIsOn) {
  EXPECT_EQ(BuildServiceCommandLine(L"E:\\Apps\\Vantic.jar", false, L"D:"),
            L" -Djava.net.preferIPv4Stack=true -Djava.io.tmpdir=\"D:\\Windows\\Temp\" "
            L"-Djna.tmpdir=\"D:\\Windows\\Temp\" -jar \"E:\\Apps\\Vantic.jar\"");
  // With a usable TEMP the drive plays no part.
  EXPECT_EQ(BuildServiceCommandLine(kJar, true, L"D:"), BuildServiceCommandLine(kJar, true, L"C:"));
}

TEST(ServiceCommandLine, SystemDriveIsTheWindowsFoldersLetterOrElseC) {
  EXPECT_EQ(SystemDriveOf(L"C:\\Windows"), L"C:");
  EXPECT_EQ(SystemDriveOf(L"D:\\WINDOWS"), L"D:");
  EXPECT_EQ(SystemDriveOf(L"e:\\windows"), L"E:");
  EXPECT_EQ(SystemDriveOf(L"Z:"), L"Z:");
  for (const wchar_t* odd : {L"", L"C", L"\\\\server\\share\\Windows", L"\\\\?\\C:\\Windows", L"1:\\Windows"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(odd)));
    EXPECT_EQ(SystemDriveOf(odd), L"C:");
  }
}

// Some tools set TEMP with a trailing backslash: the folder is the same,
// and only a root keeps the separator that makes it one.
TEST(FolderToQuery, DropsTheSeparatorsThatEndAFolderButNotARoot) {
  struct Case {
    const wchar_t* value;
    const wchar_t* queried;
  };
  for (const Case& c : {Case{L"C:\\Temp\\", L"C:\\Temp"}, Case{L"C:\\Temp\\\\", L"C:\\Temp"},
                        Case{L"C:\\Temp/", L"C:\\Temp"}, Case{L"C:\\Temp", L"C:\\Temp"}, Case{L"C:\\", L"C:\\"},
                        Case{L"C:\\\\", L"C:\\"}, Case{L"C:", L"C:"}, Case{L"\\", L"\\"},
                        Case{L"\\\\server\\share\\", L"\\\\server\\share\\"},
                        Case{L"\\\\server\\share\\Temp\\", L"\\\\server\\share\\Temp"},
                        Case{L"\\\\server\\", L"\\\\server\\"}, Case{L"Temp\\", L"Temp"}, Case{L"", L""}}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.value)));
    EXPECT_EQ(FolderToQuery(c.value), c.queried);
  }
}

}  // namespace
}  // namespace starter::service
