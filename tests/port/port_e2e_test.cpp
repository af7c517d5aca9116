// The port selection of the real starter under wine: which programs its
// pipeline runs, and how ports are judged when the listing cannot be had.
// (That a normal run keeps choosing the same ports, the bind probe included,
// shows in every run of the caller-mode tests.)
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/process_start.h"
#include "platform/system_facts.h"
#include "support/capabilities.h"
#include "support/port_env.h"
#include "support/starter_run.h"
#include "support/win_test_env.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using ::testing::StartsWith;

class PortSelectionRun : public StarterTest {
 protected:
  void SetUp() override {
    StarterTest::SetUp();
    scratch_ = fs::path(ScratchDir()) / ("port_e2e_" + std::to_string(::GetCurrentProcessId()));
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

// A listener of the test's own on 127.0.0.1, or none when the port cannot be
// had. Under wine the tables name no owner, so while no service runs (the
// fixture ends any) it counts as a program other than the service.
platform::UniqueSocket ListenOn(std::uint16_t port) {
  sockaddr_in address{AF_INET, htons(port), {}, {}};
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  platform::UniqueSocket socket;
  if (Listen(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != port) socket.reset();
  return socket;
}

// Takes cmd.exe out of the system folder while it lives, as application
// control that refuses it to the caller would; puts it back in any case.
class InterpreterRemoved {
 public:
  InterpreterRemoved() : removed_(::MoveFileW(path_.c_str(), (path_ + L".removed").c_str()) != FALSE) {}
  ~InterpreterRemoved() {
    if (removed_) ::MoveFileW((path_ + L".removed").c_str(), path_.c_str());
  }
  bool Removed() const { return removed_; }

 private:
  const std::wstring path_ = platform::SystemDirectory() + L"\\cmd.exe";
  const bool removed_;
};

class PortWitnessRun : public PortSelectionRun {
 protected:
  // Runs the port mode on a fresh registry, which answers success once the
  // service listens on the port chosen, `port`; the selection's log lines
  // between the registry read and the chosen port.
  std::vector<std::string> SelectionOfPortMode(std::uint32_t port, const Environment& environment = {}) {
    KillProcessesNamed(L"java.exe");
    DeleteVendorKey();
    run_ = RunStarter({"--Dravel", "Brimvale"}, environment);
    EXPECT_EQ(run_.process.standard_output, kSuccess);
    EXPECT_EQ(StoredServerPort(), port);
    const auto first = std::find(run_.log.begin(), run_.log.end(), "info RegOpenKeyEx Error: 2");
    const auto last = std::find(first, run_.log.end(), "info start exe " + std::to_string(port) + " ...");
    if (last == run_.log.end()) return run_.log;  // shown whole by the failed comparison
    return {first + 1, last};
  }

  platform::WinsockSession winsock_;
  StarterOutcome run_;
};

TEST_F(PortWitnessRun, AListingThatNeverEndsIsEndedWholeAndTheTablesJudgeTheOtherPorts) {
  const platform::UniqueSocket first = ListenOn(9673), second = ListenOn(9674);
  ASSERT_TRUE(first && second);
  const std::wstring traces = (scratch_ / "traces").wstring();
  EXPECT_THAT(SelectionOfPortMode(9675, {{L"NETSTAT_STANDIN_HANG", L"1"}, {L"STANDIN_TRACE", traces}}),
              ElementsAre("warning cmd.exe /d /c netstat -ano | findstr 9673 ran out of time after 5000 ms and was ended",
                          "info port 9673 is not available", "info port 9674 is not available"));
  // One listing and its 5 s, then none.
  EXPECT_EQ(std::distance(fs::directory_iterator(traces), fs::directory_iterator()), 1);
  EXPECT_GE(run_.process.seconds, 5.0);
  EXPECT_LT(run_.process.seconds, 15.0);
  EXPECT_TRUE(WaitFor([] {
    return CountProcessesNamed(L"netstat.exe") + CountProcessesNamed(L"findstr.exe") + CountProcessesNamed(L"cmd.exe") == 0;
  }));
}

TEST_F(PortWitnessRun, WithoutAListingTheTablesSeeWhoListens) {
  const platform::UniqueSocket taken = ListenOn(9673);
  ASSERT_TRUE(taken);
  {
    const InterpreterRemoved removed;
    ASSERT_TRUE(removed.Removed());
    EXPECT_THAT(SelectionOfPortMode(9674),
                ElementsAre("info popen error", "info CreateProcessW GLE=2", "info port 9673 is not available",
                            "info popen error", "info CreateProcessW GLE=2"));
  }
  // A netstat or findstr that fails inside the interpreter prints nothing.
  StandinListing listing;
  listing.ShowListing("");
  EXPECT_THAT(SelectionOfPortMode(9674), ElementsAre("info port 9673 is not available"));
}

// Whether a connection to 127.0.0.1:`port` is accepted.
bool Accepts(std::uint16_t port) {
  platform::UniqueSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{AF_INET, htons(port), {}, {}};
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return client && ::connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
}

// While a service runs, each listener is judged by its owner: this test's
// listener on the stored port, 9673, takes that port; the service's own on
// 9674, the next one, keeps it. Where the tables name no owner (wine 8), any
// listener counts as the service's while one runs, so 9673 is kept.
TEST_F(PortWitnessRun, WhileAServiceRunsEachListenerIsJudgedByItsOwner) {
  ASSERT_TRUE(StoreServerPort(9674));  // the port the service reads as it starts
  ASSERT_TRUE(platform::StartDetached(JavaExe(), L" -jar \"" + VanticDir() + L"\\Vantic.jar\"").ok());
  ASSERT_TRUE(WaitFor([] { return Accepts(9674); }));
  const platform::UniqueSocket other = ListenOn(9673);
  ASSERT_TRUE(other);
  ASSERT_TRUE(StoreServerPort(9673));

  run_ = RunStarter({"--Dravel", "Brimvale"});
  EXPECT_EQ(run_.process.standard_output, kSuccess);
  if (TablesNameOwners()) {
    EXPECT_THAT(run_.log, Contains("info port 9673 is not available"));
    EXPECT_THAT(run_.log, Not(Contains("info port 9674 is not available")));
    EXPECT_THAT(run_.log, Contains("info start exe 9674 ..."));
    EXPECT_EQ(StoredServerPort(), 9674u);
  } else {
    EXPECT_THAT(run_.log, Contains("info start exe 9673 ..."));
    EXPECT_EQ(StoredServerPort(), 9673u);
  }
}

// Every poll reads the listeners alone: what the machine's other
// connections cost is no part of it (under wine 8 a read of every row
// resolves each one's owner, minutes at this count, and the run's limit ended
// such a run with the timeout line). Past 9,500 of them the connections are a
// Linux program's (BusyMachine): wine 8 lists all 12,000, wine 10 only the
// 9,500 of its own programs. The netstat stand-in reads the rows as a real
// netstat would, without resolving owners the system does not name.
TEST_F(PortSelectionRun, APortModeRunBesideTwelveThousandConnectionsAnswersAtOnce) {
  const platform::WinsockSession winsock;
  const BusyMachine busy(12000);
  ASSERT_EQ(busy.Count(), 12000);
  const StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.standard_output, R"({"Dravel":0,"Selkan":0})");
  std::printf("a port-mode run beside %d connections took %.1f s\n", busy.Count(), run.process.seconds);
  EXPECT_LT(run.process.seconds, 10.0);
  EXPECT_THAT(run.log, Not(Contains(StartsWith("warning run ended at its time limit"))));
}

// Another program takes the chosen port after the selection and the service
// never listens. Where the tables name owners, that listener is not the
// service's: the wait runs out and says who holds the port. Where they name
// none (wine 8), any listener counts, as it always did.
TEST_F(PortSelectionRun, AnotherProgramOnTheChosenPortIsNoServiceWhereOwnersAreNamed) {
  const platform::WinsockSession winsock;
  platform::UniqueSocket holder;
  StarterOutcome run;
  std::thread starter([&] { run = RunStarter({"--Dravel", "Brimvale"}, {{L"STANDIN_NO_LISTEN", L"1"}}); });
  // The port the starter chose, once its log says it.
  std::optional<int> chosen;
  const bool selected = WaitFor(
      [&] {
        for (const LogLine& line : ReadLog())
          if (line.message.rfind("start exe ", 0) == 0) chosen = std::stoi(line.message.substr(10));
        return chosen.has_value();
      },
      20000);
  if (selected) {
    sockaddr_in any{AF_INET, htons(static_cast<u_short>(*chosen)), {}, {}};
    Listen(holder, reinterpret_cast<const sockaddr*>(&any), sizeof(any));
  }
  starter.join();
  ASSERT_TRUE(selected);
  ASSERT_TRUE(holder);
  ASSERT_TRUE(run.process.finished);
  if (TablesNameOwners()) {
    EXPECT_EQ(run.process.standard_output, R"({"Dravel":1,"Selkan":0})");
    EXPECT_THAT(run.log, Contains("info wait ended: port " + std::to_string(*chosen) + " held by process " +
                                  std::to_string(::GetCurrentProcessId()) + " (e2e_tests.exe), no Vantic service"));
  } else {
    EXPECT_EQ(run.process.standard_output, R"({"Dravel":0,"Selkan":0})");
  }
}

}  // namespace
}  // namespace starter::test
