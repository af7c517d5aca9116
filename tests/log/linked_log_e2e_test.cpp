// The real starter against a log tree another account prepared: a folder of
// the log that is a link to a folder of that account's choice, and a log
// file that is a second name of another file, both holding more than the
// log's size. Nothing there is written, moved or created through them; the
// run says why on standard error, has no file log, and serves its caller.
#include "platform/win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "app/hostile_run.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr char kLogName[] = "zephra_vantic_starter.log";

class LinkedLog : public HostileTest {
 protected:
  void SetUp() override {
    HostileTest::SetUp();
    const std::wstring id = std::to_wstring(::GetCurrentProcessId());
    elsewhere_ = L"C:\\elsewhere_" + id;
    fs::remove_all(elsewhere_);
    fs::create_directories(elsewhere_);
    error_file_ = TestBinDir() + L"\\linked_log_stderr_" + id + L".txt";
  }
  void TearDown() override {
    // The link goes first: removing the tree through it would empty its target.
    RemoveLink();
    HostileTest::TearDown();
    fs::remove_all(elsewhere_);
    ::DeleteFileW(error_file_.c_str());
  }

  // Makes `link` a unix symbolic link to the folder `target`, which wine
  // shows by name as a reparse point, as Windows shows a junction.
  bool MakeLink(const std::wstring& link, const std::wstring& target) {
    const fs::path path(link);
    const std::wstring parent = UnixPath(path.parent_path().wstring());
    if (parent.empty()) return false;
    link_ = link;
    StartUnixCommand(L"/bin/ln -s \"" + UnixPath(target) + L"\" \"" + parent + L"/" + path.filename().wstring() + L"\"");
    return WaitFor([&] { return (::GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }, 10000);
  }
  void RemoveLink() {
    if (link_.empty()) return;
    const fs::path path(link_);
    StartUnixCommand(L"/bin/rm -f \"" + UnixPath(path.parent_path().wstring()) + L"/" + path.filename().wstring() + L"\"");
    EXPECT_TRUE(WaitFor([&] { return ::GetFileAttributesW(link_.c_str()) == INVALID_FILE_ATTRIBUTES; }, 10000));
    link_.clear();
  }

  // Every file in `elsewhere_` with its bytes.
  std::set<std::pair<std::wstring, std::string>> Elsewhere() const {
    std::set<std::pair<std::wstring, std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(elsewhere_))
      files.insert({entry.path().wstring(), entry.is_regular_file() ? ReadFileBytes(entry.path().wstring()) : ""});
    return files;
  }
  static std::string OverFull() { return std::string(3145728 + 100, 'v'); }

  std::wstring elsewhere_;
  std::wstring link_;
};

TEST_F(LinkedLog, AFolderOfTheLogThatIsALinkIsNeitherWrittenNorRotatedThrough) {
  const std::wstring documents = L"C:\\Users\\Public\\Documents";
  struct Case {
    std::wstring link;       // made a link to elsewhere_
    std::wstring log_there;  // the log's file name as seen through the link
    const char* refused;     // the folder the starter names
  };
  const Case cases[] = {
      {documents + L"\\corvel", elsewhere_ + L"\\VanticLogs\\" + fs::path(kLogName).wstring(),
       "Refused C:\\Users\\Public\\Documents\\corvel: it is a link"},
      {documents + L"\\corvel\\VanticLogs", elsewhere_ + L"\\" + fs::path(kLogName).wstring(),
       "Refused C:\\Users\\Public\\Documents\\corvel\\VanticLogs: it is a link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fs::path(c.link).u8string());
    fs::create_directories(fs::path(c.log_there).parent_path());
    ASSERT_TRUE(WriteFileBytes(c.log_there, OverFull()));
    fs::create_directories(fs::path(c.link).parent_path());
    ASSERT_TRUE(MakeLink(c.link, elsewhere_));
    const auto before = Elsewhere();

    StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
    ExpectCleanEnd(run, kSuccess);
    EXPECT_TRUE(Elsewhere() == before) << "a file was written, moved or created through the link";
    EXPECT_THAT(ReadFileBytes(error_file_), HasSubstr(std::string("[*** LOG ERROR ***] ") + c.refused));

    RemoveLink();
    fs::remove_all(elsewhere_);
    fs::create_directories(elsewhere_);
  }
}

TEST_F(LinkedLog, ALogThatIsASecondNameOfAnotherFileIsLeftAsItIs) {
  const std::wstring other = elsewhere_ + L"\\other.txt";
  ASSERT_TRUE(WriteFileBytes(other, OverFull()));
  fs::create_directories(fs::path(LogFile()).parent_path());
  ASSERT_TRUE(::CreateHardLinkW(LogFile().c_str(), other.c_str(), nullptr));

  StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
  ExpectCleanEnd(run, kSuccess);
  EXPECT_EQ(ReadFileBytes(other), OverFull());
  EXPECT_EQ(ReadFileBytes(LogFile()), OverFull());
  EXPECT_FALSE(PathExists(fs::path(LogFile()).parent_path().wstring() + L"\\zephra_vantic_starter.1.log"));
  EXPECT_THAT(ReadFileBytes(error_file_),
              HasSubstr("[*** LOG ERROR ***] Refused C:\\Users\\Public\\Documents\\corvel\\VanticLogs\\"
                        "zephra_vantic_starter.log: the file has another name (hard link)"));
}

}  // namespace
}  // namespace starter::test
