// Runs of the real starter on a machine that will not answer what a run
// asks of its processes: a java.exe this account cannot examine (another
// account's service, say), and a process list the system refuses. A run
// that cannot tell neither deletes what may be a running service's marker
// nor prints success on a port it could not judge.
#include <winsock2.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fault/fault_support_win.h"
#include "platform/handles.h"
#include "platform/winsock.h"
#include "support/capabilities.h"
#include "support/port_env.h"
#include "support/standin_processes.h"
#include "support/starter_run.h"

namespace starter::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

class CannotTellRun : public StarterTest {
 protected:
  // The port a run chose, once its log names it: the first choice logged
  // after the log's first `lines_before` lines.
  static std::optional<int> ChosenPort(std::size_t lines_before) {
    std::optional<int> chosen;
    WaitFor(
        [&] {
          const std::vector<LogLine> lines = ReadLog();
          for (std::size_t i = lines_before; i < lines.size() && !chosen; ++i)
            if (lines[i].message.rfind("start exe ", 0) == 0) chosen = std::stoi(lines[i].message.substr(10));
          return chosen.has_value();
        },
        20000);
    return chosen;
  }
};

TEST_F(CannotTellRun, KeepsAMarkerItCannotJudgeAndPrintsNoSuccessWithoutTheProcessList) {
  // Another account's service, as a standard user sees it: a java.exe naming
  // the jar whose command line cannot be read, and its marker in place.
  StandInProcesses unreadable({{L"STANDIN_REWRITE_COMMAND_LINE", L"unreadable"}, {L"STANDIN_NO_LISTEN", L"1"}});
  const StartedProcess other_account = unreadable.Start(L"java.exe", L"-jar \"" + unreadable.Folder() + L"\\Vantic.jar\"");
  ASSERT_NE(other_account.process_id, 0u);
  ASSERT_TRUE(WaitFor([&] { return PathExists(unreadable.Folder() + L"\\WsClientConnected.json"); }));
  ASSERT_TRUE(WriteFileBytes(ConnectedMarker(), "{\"connected\":true}"));

  const StarterOutcome kept = RunStarter({"--BrandleAgent", "UninstallReport"}, {{L"STANDIN_NO_MARKER", L"1"}});
  ASSERT_TRUE(kept.process.finished);
  EXPECT_THAT(kept.log, Contains("warning Vantic process not known (a java.exe could not be examined): "
                                 "WsClientConnected.json kept"));
  EXPECT_THAT(kept.log, Not(Contains("info remove WsClientConnected.json")));
  EXPECT_EQ(ReadFileBytes(ConnectedMarker()), "{\"connected\":true}");

  // The test build, refused every process snapshot, while another program
  // listens on the chosen port and the service never does. Where the tables
  // name owners, the listener may be anyone's: no success, and the reason
  // says the list was not read. (Where they name none, wine 8, any listener
  // counts, as it always did, and no process list is asked for.)
  if (!TablesNameOwners()) return;
  starter_exe_ = FaultBuildOf(StarterExe());
  Environment environment =
      FaultEnvironment(fault::Injection{"CreateToolhelp32Snapshot", 1, "ERROR_ACCESS_DENIED", true});
  environment[L"STANDIN_NO_LISTEN"] = L"1";
  const platform::WinsockSession winsock;
  platform::UniqueSocket holder;
  StarterOutcome refused;
  const std::size_t lines_before = ReadLog().size();
  std::thread starter([&] { refused = RunStarter({"--Dravel", "Brimvale"}, environment); });
  const std::optional<int> chosen = ChosenPort(lines_before);
  std::uint16_t held = 0;
  if (chosen) {
    sockaddr_in any{AF_INET, htons(static_cast<u_short>(*chosen)), {}, {}};
    held = Listen(holder, reinterpret_cast<const sockaddr*>(&any), sizeof(any));
  }
  starter.join();
  ASSERT_TRUE(chosen);
  ASSERT_EQ(held, *chosen);
  ASSERT_TRUE(refused.process.finished);
  EXPECT_EQ(refused.process.standard_output, R"({"Dravel":1,"Selkan":0})");
  EXPECT_THAT(refused.log, Contains("info wait ended: process list could not be read: CreateToolhelp32Snapshot GLE=5"));
  EXPECT_THAT(refused.log, Contains(HasSubstr("warning Vantic process not known (process list could not be read")));
}

}  // namespace
}  // namespace starter::test
