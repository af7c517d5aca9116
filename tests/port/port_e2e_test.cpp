// The port selection of the real starter under wine: which programs its
// pipeline runs. (That a normal run keeps choosing the same ports, the bind
// probe included, shows in every run of the caller-mode tests.)
#include "platform/win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/starter_run.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::StartsWith;

class PortSelectionRun : public StarterTest {
 protected:
  void SetUp() override {
    StarterTest::SetUp();
    scratch_ = fs::path(TestBinDir()) / ("port_e2e_" + std::to_string(::GetCurrentProcessId()));
    fs::remove_all(scratch_);
    fs::create_directories(scratch_ / "traces");
  }
  void TearDown() override {
    StarterTest::TearDown();  // the service it ends holds the caller's folder as its own
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }

  fs::path scratch_;
};

// cmd looks in its current folder before PATH. A caller standing in a folder
// that holds a netstat.exe and a findstr.exe must not get them run.
TEST_F(PortSelectionRun, ProgramsPlantedInTheCallersFolderNeverRun) {
  const fs::path planted = scratch_ / "planted";
  fs::create_directories(planted);
  for (const char* name : {"netstat.exe", "findstr.exe"})
    fs::copy_file(fs::path(TestBinDir()) / "path_tools" / name, planted / name);
  const fs::path caller_folder = fs::current_path();
  fs::current_path(planted);  // the starter inherits it
  // A caller that does not wait; the service it launches never listens, so
  // the machine's ports stay as they were for tests in other prefixes.
  const StarterOutcome run = RunStarter({"--BrandleAgent", "UninstallReport"},
                                        {{L"STANDIN_TRACE", (scratch_ / "traces").wstring()},
                                         {L"STANDIN_NO_LISTEN", L"1"}});
  fs::current_path(caller_folder);
  EXPECT_THAT(run.log, Contains(StartsWith("info start exe ")));

  // Each stand-in traced the path it ran from: both ran, from the system
  // folder or from PATH.
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
  std::vector<std::wstring> ran;
  for (const auto& trace : fs::directory_iterator(scratch_ / "traces")) {
    const std::string bytes = ReadFileBytes(trace.path().wstring());
    const fs::path program(
        std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2));
    const std::wstring folder = program.parent_path().wstring();
    EXPECT_TRUE(_wcsicmp(folder.c_str(), system) == 0 ||
                _wcsicmp(folder.c_str(), (TestBinDir() + L"\\path_tools").c_str()) == 0)
        << program;
    ran.push_back(program.filename().wstring());
  }
  EXPECT_THAT(ran, Contains(L"netstat.exe"));
  EXPECT_THAT(ran, Contains(L"findstr.exe"));
}

}  // namespace
}  // namespace starter::test
