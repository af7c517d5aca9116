#include "service/launch.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/log_capture.h"
#include "support/win_test_env.h"

namespace starter::service {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

class TempProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_.resize(32767);
    saved_.resize(::GetEnvironmentVariableW(L"TEMP", saved_.data(), 32767));
    dir_ = fs::temp_directory_path().wstring() + L"\\temp probe \u00e9\u00df " +
           std::to_wstring(::GetCurrentProcessId());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    ::SetEnvironmentVariableW(L"TEMP", saved_.c_str());
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::vector<std::string> Probe(const wchar_t* temp, bool expected) {
    ::SetEnvironmentVariableW(L"TEMP", temp);
    test::LogCapture log;
    EXPECT_EQ(CheckDefaultTemp(), expected);
    return log.Lines();
  }
  std::string Utf8(const std::wstring& text) { return fs::path(text).u8string(); }

  std::wstring saved_, dir_;
};

TEST_F(TempProbe, ADirectoryIsReadyAndItsNameReachesTheLogAsUtf8) {
  EXPECT_THAT(Probe(dir_.c_str(), true), ElementsAre("info: start", "info: TEMP->" + Utf8(dir_)));
}

TEST_F(TempProbe, UnsetOrEmptyIsNotReady) {
  EXPECT_THAT(Probe(nullptr, false), ElementsAre("info: start", "info: TEMP empty"));
  EXPECT_THAT(Probe(L"", false), ElementsAre("info: start", "info: TEMP empty"));
}

TEST_F(TempProbe, AMissingPathOrAFileIsNotReady) {
  std::wstring missing = dir_ + L"\\missing";
  EXPECT_THAT(Probe(missing.c_str(), false),
              ElementsAre("info: start", "info: TEMP->" + Utf8(missing), "info: cannot access->" + Utf8(missing),
                          "info: _wstat64 errno=2"));
  std::wstring file = dir_ + L"\\file";
  ASSERT_TRUE(test::WriteFileBytes(file, "x"));
  EXPECT_THAT(Probe(file.c_str(), false),
              ElementsAre("info: start", "info: TEMP->" + Utf8(file), "info: not a directory->" + Utf8(file)));
}

}  // namespace
}  // namespace starter::service
