#include "install/markers.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/log_capture.h"
#include "support/win_test_env.h"

namespace starter::install {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using test::ReadFileBytes;
using test::WriteFileBytes;

class MarkerFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    // Letters outside the ANSI code page: a marker opened through an ANSI
    // conversion of its path would land elsewhere or nowhere.
    dir_ = fs::temp_directory_path().wstring() + L"\\markers \u03a9\u4e2d " +
           std::to_wstring(::GetCurrentProcessId());
    fs::create_directories(dir_);
    install_ = dir_ + L"\\ForceInstall.file";
    report_ = dir_ + L"\\Report.file";
    connected_ = dir_ + L"\\WsClientConnected.json";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::wstring dir_, install_, report_, connected_;
};

TEST_F(MarkerFiles, PresenceCountsOnlyMissingFilesAndFoldersAsAbsent) {
  EXPECT_FALSE(IsFilePresent(install_));
  EXPECT_FALSE(IsFilePresent(dir_ + L"\\no such folder\\ForceInstall.file"));
  EXPECT_FALSE(IsFilePresent(L""));
  ASSERT_TRUE(WriteFileBytes(install_, ""));
  EXPECT_TRUE(IsFilePresent(install_));
  fs::create_directory(report_);  // a folder of that name
  EXPECT_TRUE(IsFilePresent(report_));
}

TEST_F(MarkerFiles, CreatesBothWithExactBytesOnceAndNeverTouchesThemAgain) {
  {
    test::LogCapture log;
    CreateMissingMarkers({connected_, install_, report_});
    EXPECT_THAT(log.Lines(), ElementsAre("info: create ForceInstall.file", "info: create Report.file"));
  }
  EXPECT_EQ(ReadFileBytes(install_), "ForceInstall\r\n");
  EXPECT_EQ(ReadFileBytes(report_), "Report\r\n");
  EXPECT_FALSE(IsFilePresent(connected_));  // the service's to write

  ASSERT_TRUE(WriteFileBytes(install_, "kept"));
  ASSERT_TRUE(WriteFileBytes(report_, ""));
  test::LogCapture log;
  CreateMissingMarkers({connected_, install_, report_});
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_EQ(ReadFileBytes(install_), "kept");
  EXPECT_EQ(ReadFileBytes(report_), "");
}

// The service may write a marker between the starter's test and its write:
// that file is the service's, and the write leaves it whole.
TEST_F(MarkerFiles, AFileThatCameAfterTheTestIsNotTruncated) {
  ASSERT_TRUE(WriteFileBytes(report_, "written by the service"));
  const platform::Status written = WriteMarker(report_, "Report\r\n");
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.error().code, static_cast<std::uint32_t>(ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadFileBytes(report_), "written by the service");
  EXPECT_TRUE(WriteMarker(install_, "ForceInstall\r\n").ok());
  EXPECT_EQ(ReadFileBytes(install_), "ForceInstall\r\n");
}

TEST_F(MarkerFiles, EachMarkerIsDecidedByItsOwnTest) {
  fs::create_directory(install_);
  test::LogCapture log;
  CreateMissingMarkers({connected_, install_, report_});
  EXPECT_THAT(log.Lines(), ElementsAre("info: create Report.file"));
  EXPECT_TRUE(fs::is_directory(install_));
}

TEST_F(MarkerFiles, AFailedCreationIsAWarningNamingTheFileNotASuccessLine) {
  std::wstring missing = dir_ + L"\\gone";
  test::LogCapture log;
  CreateMissingMarkers({missing + L"\\WsClientConnected.json", missing + L"\\ForceInstall.file", missing + L"\\Report.file"});
  std::string folder = fs::path(missing).u8string();
  EXPECT_THAT(log.Lines(),
              ElementsAre("warning: create ForceInstall.file failed->" + folder + "\\ForceInstall.file GLE=3",
                          "warning: create Report.file failed->" + folder + "\\Report.file GLE=3"));
}

TEST_F(MarkerFiles, ConnectedMarkerRemovalNamesOnlyAFileThatWasThere) {
  {
    test::LogCapture log;
    RemoveConnectedMarker(connected_);
    EXPECT_TRUE(log.Lines().empty());
  }
  ASSERT_TRUE(WriteFileBytes(connected_, "{}"));
  test::LogCapture log;
  RemoveConnectedMarker(connected_);
  EXPECT_THAT(log.Lines(), ElementsAre("info: remove WsClientConnected.json"));
  EXPECT_FALSE(IsFilePresent(connected_));
}

}  // namespace
}  // namespace starter::install
