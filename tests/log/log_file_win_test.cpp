#include "log/log_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/spdlog.h>

#include <map>
#include <regex>
#include <sstream>

#include "support/win_test_env.h"

namespace starter::log {
namespace {

using test::PathExists;
using test::ReadFileBytes;

class SharedLogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    root_ = std::wstring(temp) + L"sink_test_" + std::to_wstring(::GetCurrentProcessId());
    folder_ = root_ + L"\\a\\b";
    path_ = folder_ + L"\\test.log";
    rotated_ = folder_ + L"\\test.1.log";
  }
  void TearDown() override {
    for (const auto& file : {path_, rotated_}) ::DeleteFileW(file.c_str());
    for (const auto& dir : {folder_, root_ + L"\\a", root_}) ::RemoveDirectoryW(dir.c_str());
  }
  // Of the folders, a and b are the sink's own.
  LogLocation Location() const { return SplitLogPath(path_, 2); }
  spdlog::logger MakeLogger(std::uint64_t max_size) {
    spdlog::logger logger("sink_test", OpenSharedLogFile(Location(), max_size));
    logger.set_formatter(std::make_unique<spdlog::pattern_formatter>(
        "%v", spdlog::pattern_time_type::local, "\r\n"));
    return logger;
  }

  std::wstring root_, folder_, path_, rotated_;
};

TEST_F(SharedLogFileTest, CreatesMissingFoldersAndAppendsToWhatIsThere) {
  MakeLogger(1000).info("first");
  MakeLogger(1000).info("second");
  EXPECT_EQ(ReadFileBytes(path_), "first\r\nsecond\r\n");
}

TEST_F(SharedLogFileTest, RotatesIntoOneOlderFileAndNeverKeepsAThird) {
  auto logger = MakeLogger(20);
  logger.info("0123456789");  // 12 bytes
  logger.info("abcdefghij");  // would make 24: rotates first
  EXPECT_EQ(ReadFileBytes(rotated_), "0123456789\r\n");
  EXPECT_EQ(ReadFileBytes(path_), "abcdefghij\r\n");
  logger.info("ABCDEFGHIJ");
  EXPECT_EQ(ReadFileBytes(rotated_), "abcdefghij\r\n");
  EXPECT_EQ(ReadFileBytes(path_), "ABCDEFGHIJ\r\n");
  EXPECT_FALSE(PathExists(folder_ + L"\\test.2.log"));
  EXPECT_EQ(Location().RotatedFilePath(), rotated_);
}

TEST_F(SharedLogFileTest, AFolderWhereTheFileShouldBeFailsAtCreation) {
  MakeLogger(100);  // creates the folders and the file
  ::DeleteFileW(path_.c_str());
  ASSERT_TRUE(::CreateDirectoryW(path_.c_str(), nullptr));
  EXPECT_THROW(OpenSharedLogFile(Location(), 100), spdlog::spdlog_ex);
  ::RemoveDirectoryW(path_.c_str());
}

// Several processes append at once, through a rotation: every line of every
// writer must arrive exactly once and whole.
TEST_F(SharedLogFileTest, ConcurrentWritersLoseAndTearNoLineAcrossARotation) {
  constexpr int kWriters = 4, kLines = 600;
  MakeLogger(1);  // creates the folders
  // About 4 * 600 * 72 bytes: one rotation at 120 KB keeps every line on disk.
  const std::wstring max_size = L"120000";
  std::vector<HANDLE> processes;
  for (int writer = 0; writer < kWriters; ++writer) {
    std::wstring tool = test::TestBinDir() + L"\\log_writer.exe";
    std::wstring command = L"\"" + tool + L"\" \"" + path_ + L"\" " + max_size +
                           L" " + std::to_wstring(writer) + L" " + std::to_wstring(kLines);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(tool.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &info));
    ::CloseHandle(info.hThread);
    processes.push_back(info.hProcess);
  }
  for (HANDLE process : processes) {
    ASSERT_EQ(::WaitForSingleObject(process, 120000), WAIT_OBJECT_0);
    ::CloseHandle(process);
  }

  std::istringstream lines(ReadFileBytes(rotated_) + ReadFileBytes(path_));
  const std::regex whole(R"((\d) (\d+) -{59}\|\r)");
  std::map<std::pair<int, int>, int> seen;
  std::string line;
  int torn = 0;
  while (std::getline(lines, line)) {
    std::smatch match;
    if (!std::regex_match(line, match, whole)) {
      ++torn;
      continue;
    }
    ++seen[{std::stoi(match[1]), std::stoi(match[2])}];
  }
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(seen.size(), static_cast<size_t>(kWriters * kLines));
  for (const auto& [key, count] : seen) EXPECT_EQ(count, 1) << key.first << " " << key.second;
  EXPECT_FALSE(ReadFileBytes(rotated_).empty());
}

}  // namespace
}  // namespace starter::log
