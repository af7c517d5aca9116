// The machine probe against the real system: the change notification on the
// marker's folder, and the port check judged over scripted answers.
#include "app/readiness_wait.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "support/log_capture.h"
#include "support/owner_looks.h"
#include "support/win_test_env.h"

namespace starter::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::MatchesRegex;

class MarkerFolderWatch : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  const std::wstring dir_ = fs::temp_directory_path().wstring() + L"watched \u03a9";
  const std::wstring marker_ = dir_ + L"\\WsClientConnected.json";
};

// The reasons are debug lines: the capture is opened to them. Such a watch
// sleeps out each wait; a folder that can be watched says nothing.
TEST_F(MarkerFolderWatch, SaysWhyAFolderCannotBeWatchedAndThenOnlySleeps) {
  test::LogCapture log;
  log.RecordDebug();
  for (const std::wstring& marker : {std::wstring(), dir_ + L"\\gone\\WsClientConnected.json"}) {
    std::unique_ptr<FolderWatch> watch = MachineProbe(marker).WatchMarkerFolder();
    const std::chrono::microseconds before = watch->Now();
    EXPECT_FALSE(watch->WaitForChange(50ms));
    EXPECT_GE(watch->Now() - before, 50ms);
  }
  MachineProbe(marker_).WatchMarkerFolder();
  EXPECT_THAT(log.Lines(), ElementsAre("debug: no folder watch: install root unknown",
                                       MatchesRegex("debug: no folder watch on .*gone GLE=.")));
}

// Changes made while nobody waited end the next wait at once (a file written
// is a creation and a write): true once a wait runs out again.
bool Settles(FolderWatch& watch) {
  for (int wait = 0; wait < 20; ++wait)
    if (!watch.WaitForChange(50ms)) return true;
  return false;
}

// A file created, then one written in place: each wakes the wait, which is
// armed again after each.
TEST_F(MarkerFolderWatch, WakesForFilesCreatedAndWrittenAndIsArmedAgain) {
  std::unique_ptr<FolderWatch> watch = MachineProbe(marker_).WatchMarkerFolder();
  ASSERT_TRUE(watch);
  const std::chrono::microseconds before = watch->Now();
  EXPECT_FALSE(watch->WaitForChange(50ms));
  EXPECT_GE(watch->Now() - before, 50ms);

  ASSERT_TRUE(test::WriteFileBytes(marker_, "{}"));
  EXPECT_TRUE(watch->WaitForChange(10s));
  ASSERT_TRUE(Settles(*watch));
  std::FILE* file = _wfopen(marker_.c_str(), L"r+b");  // no name changes, only the last write
  ASSERT_TRUE(file);
  std::fputs("[]", file);
  std::fclose(file);
  EXPECT_TRUE(watch->WaitForChange(10s));
}

// The poll's port check says what the one judge says (port_holder.h), from
// one read of the listeners and one look at their named owners only: a
// listener this account cannot examine counts, another program is named in
// the judge's words, an unread table is no listener, and without a process
// list the check is no answer and says why.
struct ScriptedListeners final : port::ListenerSteps {
  platform::Expected<std::vector<port::PortListener>> listeners = std::vector<port::PortListener>{};
  platform::Expected<std::vector<port::PortListener>> Listeners(std::uint16_t) override { return listeners; }
};

TEST(MachineProbePortCheck, AnswersAsTheJudgeOfWhoHoldsThePort) {
  ScriptedListeners tables;
  test::ScriptedOwnerLooks processes;
  MachineProbe probe(L"", &tables, &processes);
  tables.listeners = std::vector<port::PortListener>{{std::nullopt, false}, {5151, false}, {5151, true}};
  processes.processes = port::OwnerLooks{{5151, {service::Identity::kCannotTell, L"java.exe"}}};
  PortCheck check = probe.CheckPort(9691);
  EXPECT_TRUE(check.ready);
  EXPECT_EQ(check.reason, "");
  EXPECT_EQ(processes.looked_at, (std::vector<std::vector<std::uint32_t>>{{5151}}));

  tables.listeners = std::vector<port::PortListener>{{5151, false}};
  processes.processes = port::OwnerLooks{{5151, {service::Identity::kOtherProgram, L"other.exe"}}};
  check = probe.CheckPort(9691);
  EXPECT_FALSE(check.ready);
  EXPECT_EQ(check.reason, "port 9691 held by process 5151 (other.exe), no Vantic service");

  processes.processes = platform::SystemError{"CreateToolhelp32Snapshot", 5};
  check = probe.CheckPort(9691);
  EXPECT_FALSE(check.ready);
  EXPECT_EQ(check.reason, "process list could not be read: CreateToolhelp32Snapshot GLE=5");

  tables.listeners = platform::SystemError{"GetExtendedTcpTable", 21};
  check = probe.CheckPort(9691);
  EXPECT_FALSE(check.ready);
  EXPECT_EQ(check.reason, "");
}

}  // namespace
}  // namespace starter::app
