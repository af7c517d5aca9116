// The real starter against a log tree another account prepared, holding
// more than the log's size: a folder of the log that is a link to a folder
// of its choice, and a log file that is a second name of another file.
// Nothing is written, moved or created through them; the run says why on
// standard error, keeps no file log and serves its caller.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>

#include "app/hostile_run.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class LinkedLog : public HostileRun {
 protected:
  void SetUp() override {
    HostileRun::SetUp();
    fs::remove_all(kElsewhere);
    fs::create_directories(kElsewhere);
    error_file_ = ScratchDir() + L"\\linked_log_stderr.txt";
  }
  void TearDown() override {
    link_.reset();  // first: removing the tree through the link would empty its target
    HostileRun::TearDown();
    fs::remove_all(kElsewhere);
  }
  static std::map<fs::path, std::string> Elsewhere() {  // every file with its bytes
    std::map<fs::path, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(kElsewhere))
      files[entry.path()] = ReadFileBytes(entry.path().wstring());
    return files;
  }

  static constexpr wchar_t kElsewhere[] = L"C:\\elsewhere";
  const std::string over_full_ = std::string(3145728 + 100, 'v');
  std::optional<UnixLink> link_;
};

TEST_F(LinkedLog, AFolderOfTheLogThatIsALinkIsNeitherWrittenNorRotatedThrough) {
  const std::wstring corvel = L"C:\\Users\\Public\\Documents\\corvel";
  for (const std::wstring& link : {corvel, corvel + L"\\VanticLogs"}) {
    SCOPED_TRACE(fs::path(link).u8string());
    const std::wstring through = link == corvel ? L"\\VanticLogs" : L"";
    fs::create_directories(std::wstring(kElsewhere) + through);
    ASSERT_TRUE(WriteFileBytes(kElsewhere + through + L"\\zephra_vantic_starter.log", over_full_));
    fs::create_directories(fs::path(link).parent_path());
    ASSERT_TRUE(link_.emplace(link, kElsewhere).Made());
    const auto before = Elsewhere();

    StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
    ExpectCleanEnd(run, kSuccess);
    EXPECT_TRUE(Elsewhere() == before) << "written, moved or created through the link";
    EXPECT_THAT(ReadFileBytes(error_file_), HasSubstr("[*** LOG ERROR ***] Refused " + fs::path(link).u8string() +
                                                      ": it is a link (reparse point)"));
    link_.reset();
  }
}

TEST_F(LinkedLog, ALogThatIsASecondNameOfAnotherFileIsLeftAsItIs) {
  const std::wstring other = std::wstring(kElsewhere) + L"\\other.txt";
  ASSERT_TRUE(WriteFileBytes(other, over_full_));
  fs::create_directories(fs::path(LogFile()).parent_path());
  ASSERT_TRUE(::CreateHardLinkW(LogFile().c_str(), other.c_str(), nullptr));

  StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
  ExpectCleanEnd(run, kSuccess);
  EXPECT_EQ(ReadFileBytes(other), over_full_);
  EXPECT_FALSE(PathExists(fs::path(LogFile()).replace_filename("zephra_vantic_starter.1.log").wstring()));
  EXPECT_THAT(ReadFileBytes(error_file_), HasSubstr("[*** LOG ERROR ***] Refused " + Utf8(LogFile()) +
                                                    ": the file has another name (hard link)"));
}

}  // namespace
}  // namespace starter::test
