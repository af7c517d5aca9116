// The change notification on the marker's folder, against the real system.
#include "app/folder_watch.h"

#include "platform/win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "log/diag_logger.h"
#include "platform/handles.h"
#include "support/log_capture.h"
#include "support/win_test_env.h"

namespace starter::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::AllOf;
using ::testing::AnyOf;
using ::testing::EndsWith;
using ::testing::StartsWith;

class MarkerFolderWatch : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path().wstring() + L"\\watched \u03a9 " + std::to_wstring(::GetCurrentProcessId());
    fs::create_directories(dir_);
    marker_ = dir_ + L"\\WsClientConnected.json";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::wstring dir_, marker_;
};

// The lines saying why are debug lines: the capture is opened to them.
std::vector<std::string> DebugLinesOfWatching(const std::wstring& marker, bool& watched) {
  test::LogCapture log;
  log::DiagnosticLogger()->set_level(spdlog::level::debug);
  watched = WatchMarkerFolder(marker) != nullptr;
  return log.Lines();
}

TEST_F(MarkerFolderWatch, SaysWhyAFolderCannotBeWatched) {
  bool watched = true;
  EXPECT_THAT(DebugLinesOfWatching(L"", watched), ElementsAre("debug: no folder watch: install root unknown"));
  EXPECT_FALSE(watched);
  EXPECT_THAT(DebugLinesOfWatching(dir_ + L"\\gone\\WsClientConnected.json", watched),
              ElementsAre(AllOf(StartsWith("debug: no folder watch on "),
                                AnyOf(EndsWith("\\gone GLE=2"), EndsWith("\\gone GLE=3")))));
  EXPECT_FALSE(watched);
  EXPECT_TRUE(DebugLinesOfWatching(marker_, watched).empty());
  EXPECT_TRUE(watched);
}

// Changes pile up while nobody waits (a file written is often a creation and
// a write): waits that still see them end at once. True once a wait ran out.
bool SettlesDown(FolderWatch& watch) {
  for (int wait = 0; wait < 20; ++wait)
    if (!watch.WaitForChange(50ms)) return true;
  return false;
}

TEST_F(MarkerFolderWatch, WakesForFilesCreatedWrittenAndRenamedAndIsArmedAgainEachTime) {
  std::unique_ptr<FolderWatch> watch = WatchMarkerFolder(marker_);
  ASSERT_TRUE(watch);
  const std::chrono::microseconds before = watch->Now();
  EXPECT_FALSE(watch->WaitForChange(50ms));
  EXPECT_GE(watch->Now() - before, 50ms);

  ASSERT_TRUE(test::WriteFileBytes(marker_, "{}"));
  EXPECT_TRUE(watch->WaitForChange(10s));
  ASSERT_TRUE(SettlesDown(*watch));

  // Written in place: no name changes, only the last write.
  HANDLE raw = ::CreateFileW(marker_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(raw, INVALID_HANDLE_VALUE);
  platform::UniqueFile file(raw);
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file.get(), "{\"a\":1}", 7, &written, nullptr));
  file.reset();
  EXPECT_TRUE(watch->WaitForChange(10s));
  ASSERT_TRUE(SettlesDown(*watch));

  ASSERT_TRUE(::MoveFileW(marker_.c_str(), (dir_ + L"\\renamed.json").c_str()));
  EXPECT_TRUE(watch->WaitForChange(10s));
}

}  // namespace
}  // namespace starter::app
