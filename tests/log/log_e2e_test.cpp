// The diagnostic log as the real starter writes it: layout byte for byte,
// encodings, appending, rotation, and a log that cannot be opened.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/starter_run.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kUninstall[] = "--BrandleAgent";
constexpr char kUninstallValue[] = "UninstallReport";

class DiagnosticLog : public StarterTest {
 protected:
  static std::wstring LogFolder() { return fs::path(LogFile()).parent_path().wstring(); }
  static std::wstring RotatedFile() { return LogFolder() + L"\\zephra_vantic_starter.1.log"; }
};

TEST_F(DiagnosticLog, EveryLineHasTheLayoutAndTheRunEndsWithAnEmptyLine) {
  ASSERT_FALSE(PathExists(LogFolder()));  // missing folders are made at start
  StarterOutcome run = RunStarter({kUninstall, kUninstallValue});
  ASSERT_EQ(run.process.exit_code, 0u);

  std::string text = ReadFileBytes(LogFile());
  const std::string pid = std::to_string(run.process.process_id);
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char today[16];
  std::snprintf(today, sizeof(today), "%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
  ASSERT_EQ(text.rfind("[" + pid + "] [" + today, 0), 0u) << text;
  EXPECT_THAT(text, HasSubstr("] [info] [ START ] 2.3.6.2\r\n"));
  const std::string end = "] [info] [ END ]\n\r\n";
  ASSERT_GE(text.size(), end.size());
  EXPECT_EQ(text.substr(text.size() - end.size()), end);

  // Each line: process id, local time to the millisecond, level, message, CR LF.
  const std::regex line("\\[" + pid + R"(\] \[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[(info|warning)\] [^\r]*\r\n)");
  std::string rest = text;
  size_t lines = 0;
  for (std::smatch match; std::regex_search(rest, match, line, std::regex_constants::match_continuous);
       rest = match.suffix())
    ++lines;
  EXPECT_EQ(rest, "") << "unmatched from: " << rest.substr(0, 200);
  EXPECT_EQ(lines, run.log.size());
  EXPECT_THAT(text, Not(HasSubstr("[debug]")));
}

TEST_F(DiagnosticLog, RunsAppendAndWarningsCarryTheirLevelName) {
  ASSERT_TRUE(::DeleteFileW(JavaExe().c_str()));
  RunStarter({kUninstall, kUninstallValue});
  RunStarter({kUninstall, kUninstallValue});
  std::vector<LogLine> lines = ReadLog();
  long starts = std::count_if(lines.begin(), lines.end(), [](const LogLine& l) { return l.message == "[ START ] 2.3.6.2"; });
  EXPECT_EQ(starts, 2);
  EXPECT_THAT(ReadFileBytes(LogFile()), HasSubstr("[ END ]\n\r\n["));
  EXPECT_THAT(ReadFileBytes(LogFile()), HasSubstr("] [warning] CreateProcess GLE=2\r\n"));
}

TEST_F(DiagnosticLog, WideTextIsUtf8AndArgumentsKeepTheirAnsiBytes) {
  std::wstring temp = fs::temp_directory_path().wstring() + L"\\caf\u00e9";
  fs::create_directories(temp);
  // 0xE9 is é in the ANSI code page the arguments arrive in.
  RunStarter({kUninstall, "\xe9t\xe9"}, {{L"TEMP", temp}});
  std::string text = ReadFileBytes(LogFile());
  EXPECT_THAT(text, HasSubstr("TEMP->" + Utf8(temp) + "\r\n"));
  EXPECT_THAT(text, HasSubstr("caf\xc3\xa9\r\n"));
  EXPECT_THAT(text, HasSubstr("param 2->\xe9t\xe9\r\n"));
  fs::remove_all(temp);
}

TEST_F(DiagnosticLog, AFullFileIsRotatedIntoTheOneOlderFile) {
  fs::create_directories(LogFolder());
  ASSERT_TRUE(WriteFileBytes(RotatedFile(), "oldest\r\n"));
  ASSERT_TRUE(WriteFileBytes(LogFile(), std::string(3145728 - 10, 'x') + "\r\n"));
  StarterOutcome run = RunStarter({kUninstall, kUninstallValue});
  EXPECT_EQ(ReadFileBytes(RotatedFile()).size(), 3145728u - 8);
  EXPECT_EQ(ReadLog().front().message, "[ START ] 2.3.6.2");
  EXPECT_EQ(run.log.back(), "info [ END ]\n");
  EXPECT_FALSE(PathExists(LogFolder() + L"\\zephra_vantic_starter.2.log"));
}

// The log holds 3 MiB at most: the line that fills the file to exactly
// 3,145,728 bytes is still written into it; a line that would take it one
// byte past goes into a fresh file once the full one is renamed. The file is
// filled while the starter is created suspended, once its process id, and
// so the length of its first line, is known.
TEST_F(DiagnosticLog, ALineFillingTheFileToThreeMiBStaysAndOneBytePastRotates) {
  constexpr std::size_t kThreeMiB = 3145728;
  const std::string start_tail = "] [info] [ START ] 2.3.6.2\r\n";
  for (const std::size_t past : {std::size_t{0}, std::size_t{1}}) {
    SCOPED_TRACE(past ? "one byte past" : "exactly full");
    fs::create_directories(LogFolder());
    ::DeleteFileW(RotatedFile().c_str());
    std::size_t filled = 0;
    before_start_ = [&](std::uint32_t process_id) {
      const std::size_t start_line = ("[" + std::to_string(process_id) + "] [2026-12-08 10:00:00.000" + start_tail).size();
      filled = kThreeMiB - start_line + past;
      ASSERT_TRUE(WriteFileBytes(LogFile(), std::string(filled - 2, 'x') + "\r\n"));
    };
    RunStarter({kUninstall, kUninstallValue});
    const std::string rotated = ReadFileBytes(RotatedFile());
    ASSERT_GE(rotated.size(), start_tail.size());
    if (past == 0) {
      EXPECT_EQ(rotated.size(), kThreeMiB);
      EXPECT_EQ(rotated.substr(rotated.size() - start_tail.size()), start_tail);
      EXPECT_EQ(ReadLog().front().message, std::string("param 1->") + kUninstall);
    } else {
      EXPECT_EQ(rotated.size(), filled);
      EXPECT_EQ(ReadLog().front().message, "[ START ] 2.3.6.2");
    }
  }
}

TEST_F(DiagnosticLog, AnUnopenableLogStillLeavesTheCallerItsStatusLine) {
  fs::create_directories(LogFile());  // a folder where the file should be
  StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
  EXPECT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.exit_code, 0u);
  EXPECT_EQ(run.process.standard_output, kSuccess);
  EXPECT_TRUE(fs::is_directory(LogFile()));
}

}  // namespace
}  // namespace starter::test
