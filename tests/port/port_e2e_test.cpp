// The port selection of the real starter under wine: which programs its
// pipeline runs, and how ports are judged when the listing cannot be had.
// (That a normal run keeps choosing the same ports, the bind probe included,
// shows in every run of the caller-mode tests.)
#include "platform/win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/system_folders.h"
#include "support/port_env.h"
#include "support/starter_run.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
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

  // The programs each stand-in traced, by file name, one entry a run.
  std::vector<std::wstring> TracedPrograms() const {
    std::vector<std::wstring> ran;
    for (const auto& trace : fs::directory_iterator(scratch_ / "traces")) {
      const std::string bytes = ReadFileBytes(trace.path().wstring());
      ran.push_back(fs::path(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2))
                        .filename()
                        .wstring());
    }
    return ran;
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

// The log lines of the port selection: from the registry read to the chosen port.
std::vector<std::string> SelectionLines(const std::vector<std::string>& log) {
  const auto first = std::find(log.begin(), log.end(), "info RegOpenKeyEx Error: 2");
  const auto last = std::find_if(first, log.end(), [](const std::string& line) {
    return line.rfind("info start exe ", 0) == 0;
  });
  return {first, last == log.end() ? last : last + 1};
}

// A listener of the test's own on the loopback address.
platform::UniqueSocket ListenOn(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  platform::UniqueSocket socket;
  Listen(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  return socket;
}

// Takes the command interpreter out of the system folder while it lives, as
// application control that refuses it to the caller would, and puts it back
// whatever the test's outcome.
class InterpreterRemoved {
 public:
  InterpreterRemoved()
      : path_(platform::SystemDirectory() + L"\\cmd.exe"),
        removed_(::MoveFileW(path_.c_str(), (path_ + L".removed").c_str()) != FALSE) {}
  ~InterpreterRemoved() {
    if (removed_) ::MoveFileW((path_ + L".removed").c_str(), path_.c_str());
  }
  InterpreterRemoved(const InterpreterRemoved&) = delete;
  InterpreterRemoved& operator=(const InterpreterRemoved&) = delete;

  bool Removed() const { return removed_; }

 private:
  std::wstring path_;
  bool removed_;
};

// Under wine the tables name no owner: a listener of the test's own counts
// as a program other than the service while none runs, which the fixture
// makes sure of. Each run is the port mode, which answers once the service
// listens on the port chosen.
class PortWitnessRun : public PortSelectionRun {
 protected:
  platform::WinsockSession winsock_;
};

TEST_F(PortWitnessRun, AListingThatNeverEndsIsEndedAndTheTablesJudgeTheOtherPorts) {
  const platform::UniqueSocket first = ListenOn(9673);
  const platform::UniqueSocket second = ListenOn(9674);
  ASSERT_TRUE(first && second);
  const StarterOutcome run = RunStarter(
      {"--Dravel", "Brimvale"},
      {{L"NETSTAT_STANDIN_HANG", L"1"}, {L"STANDIN_TRACE", (scratch_ / "traces").wstring()}});
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.standard_output, kSuccess);
  EXPECT_EQ(StoredServerPort(), 9675u);
  // The listing's 5 s, then no second listing.
  EXPECT_GE(run.process.seconds, 5.0);
  EXPECT_LT(run.process.seconds, 15.0);
  EXPECT_THAT(SelectionLines(run.log),
              ElementsAre("info RegOpenKeyEx Error: 2",
                          "warning cmd.exe /c netstat -ano | findstr 9673 ran out of time after 5000 ms and was ended",
                          "info port 9673 is not available", "info port 9674 is not available",
                          "info start exe 9675 ..."));
  const std::vector<std::wstring> ran = TracedPrograms();
  EXPECT_EQ(std::count(ran.begin(), ran.end(), L"netstat.exe"), 1);
  EXPECT_TRUE(WaitFor([] {
    return CountProcessesNamed(L"netstat.exe") + CountProcessesNamed(L"findstr.exe") +
               CountProcessesNamed(L"cmd.exe") ==
           0;
  }));
}

TEST_F(PortWitnessRun, WithoutTheInterpreterPortsAreJudgedByWhoListens) {
  const platform::UniqueSocket taken = ListenOn(9673);
  ASSERT_TRUE(taken);
  StarterOutcome run;
  {
    const InterpreterRemoved removed;
    ASSERT_TRUE(removed.Removed());
    run = RunStarter({"--Dravel", "Brimvale"});
  }
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.standard_output, kSuccess);
  EXPECT_EQ(StoredServerPort(), 9674u);
  EXPECT_THAT(SelectionLines(run.log),
              ElementsAre("info RegOpenKeyEx Error: 2", "info popen error", "info CreateProcessW GLE=2",
                          "info port 9673 is not available", "info popen error", "info CreateProcessW GLE=2",
                          "info start exe 9674 ..."));
}

// A netstat or findstr that fails inside the interpreter prints nothing.
TEST_F(PortWitnessRun, AnEmptyListingDoesNotHideAListenerTheTablesShow) {
  const platform::UniqueSocket taken = ListenOn(9673);
  ASSERT_TRUE(taken);
  StandinListing listing;
  listing.ShowListing("");
  const StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.standard_output, kSuccess);
  EXPECT_EQ(StoredServerPort(), 9674u);
  EXPECT_THAT(SelectionLines(run.log),
              ElementsAre("info RegOpenKeyEx Error: 2", "info port 9673 is not available", "info start exe 9674 ..."));
}

}  // namespace
}  // namespace starter::test
