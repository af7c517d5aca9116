#include "app/readiness_wait.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "support/log_capture.h"

namespace starter::app {
namespace {

using ::testing::ElementsAre;

// A scripted world: each check answers from its own queue (then repeats its
// last answer), and every call is recorded in order.
struct FakeWorld {
  std::vector<bool> port, process, marker;
  // Filled by the probe; the cases list only the answers above.
  std::vector<std::string> calls{};
  std::vector<std::string> printed{};
  bool line_taken = false;  // the run's limit printed its line first
  std::string reason{};     // the words of a port check that can say more than "not listening"
  bool processes_unread = false;

  static bool Next(std::vector<bool>& answers) {
    bool answer = answers.front();
    if (answers.size() > 1) answers.erase(answers.begin());
    return answer;
  }
  // The wait between polls, recorded as a sleep, on a clock of its own.
  struct Watch final : FolderWatch {
    explicit Watch(FakeWorld& of) : world(of) {}
    std::chrono::microseconds Now() override { return world.clock; }
    bool WaitForChange(std::chrono::milliseconds timeout) override {
      world.calls.push_back("sleep");
      world.clock += timeout;
      return false;
    }
    void Pause(std::chrono::milliseconds duration) override { world.clock += duration; }
    FakeWorld& world;
  };
  std::chrono::microseconds clock{0};

  // The checks answer from the queues above.
  struct Probe final : ReadinessProbe {
    explicit Probe(FakeWorld& of) : world(of) {}
    PortCheck CheckPort(std::uint16_t) override {
      world.calls.push_back("port");
      const bool ready = Next(world.port);
      return {ready, ready ? std::string() : world.reason};
    }
    platform::Expected<service::ServiceSearch> FindService() override {
      world.calls.push_back("process");
      if (world.processes_unread) return platform::SystemError{"CreateToolhelp32Snapshot", 5};
      return Next(world.process) ? service::ServiceSearch::kFound : service::ServiceSearch::kNotFound;
    }
    bool MarkerPresent() override {
      world.calls.push_back("marker");
      return Next(world.marker);
    }
    void RemoveConnectedMarker() override { world.calls.push_back("remove"); }
    void KeepConnectedMarker() override { world.calls.push_back("keep"); }
    std::unique_ptr<FolderWatch> WatchMarkerFolder() override { return std::make_unique<Watch>(world); }
    std::unique_ptr<FolderWatch> WatchNothing() override { return std::make_unique<Watch>(world); }
    FakeWorld& world;
  };
  // What the caller reads, through the run's single claim of the line.
  struct Recorder final : LineWriter {
    explicit Recorder(std::vector<std::string>& into) : lines(into) {}
    platform::Expected<std::size_t> Write(std::string_view line) override {
      lines.emplace_back(line);
      return line.size();
    }
    std::vector<std::string>& lines;
  } recorder{printed};
  StatusLineOnce line{recorder};
  long Count(const std::string& what) const { return std::count(calls.begin(), calls.end(), what); }
};

void ReportIn(FakeWorld& world, contract::CallerMode mode) {
  FakeWorld::Probe probe(world);
  if (world.line_taken) world.line.Print("");
  ReportReadiness(mode, 9673, probe, world.line);
}

TEST(ReportReadiness, NoArgumentModeChecksInOrderAndStopsWithoutSleeping) {
  test::LogCapture log;
  FakeWorld world{{false, true}, {false, true}, {false, true}};
  ReportIn(world, contract::CallerMode::kAllChecks);
  // Later checks run only when the earlier ones passed within the same poll,
  // and every poll starts again from the port.
  EXPECT_THAT(world.calls, ElementsAre("port", "sleep", "port", "process", "sleep", "port", "process",
                                       "marker", "sleep", "port", "process", "marker"));
  EXPECT_THAT(world.printed, ElementsAre(R"({"Dravel":0,"Selkan":0})"));
  EXPECT_THAT(log.Lines(), ElementsAre("info: Case no args, check port,process and file",
                                       R"(info: OUTPUT->{"Dravel":0,"Selkan":0})"));
}

struct TimeoutCase {
  const char* name;
  contract::CallerMode mode;
  const char* first_line;
  const char* printed;
  friend void PrintTo(const TimeoutCase& timeout, std::ostream* out) { *out << timeout.name; }
};

class ReportReadinessTimeout : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(ReportReadinessTimeout, SleepsAfterEveryOneOfTwoHundredPollsThenReportsItsLine) {
  test::LogCapture log;
  // Port and process always there, marker never: only the port mode succeeds.
  FakeWorld world{{true}, {true}, {false}};
  ReportIn(world, GetParam().mode);
  // Callers size their own waits on 200 polls, 100 ms apart: the number is
  // written out, so that a changed constant fails here.
  EXPECT_EQ(world.Count("sleep"), 200);
  EXPECT_THAT(world.printed, ElementsAre(GetParam().printed));
  EXPECT_THAT(log.Lines(), ElementsAre(std::string("info: ") + GetParam().first_line,
                                       "info: wait ended: WsClientConnected.json not Exist",
                                       std::string("info: OUTPUT->") + GetParam().printed));
}

INSTANTIATE_TEST_SUITE_P(
    WaitingModes, ReportReadinessTimeout,
    ::testing::Values(
        TimeoutCase{"NoArgument", contract::CallerMode::kAllChecks, "Case no args, check port,process and file",
                    R"({"Dravel":1,"Selkan":1})"},
        TimeoutCase{"ProcessAndFile", contract::CallerMode::kProcessAndFile, "Case --BrandleAgent Dravel, check process and file",
                    R"({"Dravel":0,"Selkan":1})"}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(ReportReadiness, PortModeLooksOnlyAtThePort) {
  test::LogCapture log;
  FakeWorld never{{false}, {true}, {true}};
  ReportIn(never, contract::CallerMode::kPort);
  EXPECT_EQ(never.Count("port"), 200);
  EXPECT_EQ(never.Count("sleep"), 200);
  EXPECT_EQ(never.Count("process") + never.Count("marker"), 0);
  EXPECT_THAT(never.printed, ElementsAre(R"({"Dravel":1,"Selkan":0})"));

  FakeWorld at_once{{true}, {false}, {false}};
  ReportIn(at_once, contract::CallerMode::kPort);
  EXPECT_THAT(at_once.calls, ElementsAre("port"));
  EXPECT_THAT(at_once.printed, ElementsAre(R"({"Dravel":0,"Selkan":0})"));
}

// A wait that runs out names the check that failed as the poll found it:
// another program on the port, nothing listening, or no process list to
// answer the question, which never passes for a service.
TEST(ReportReadiness, AWaitThatRunsOutNamesWhatThePollFoundOrCouldNotRead) {
  const std::string unread = "process list could not be read: CreateToolhelp32Snapshot GLE=5";
  const struct Case {
    contract::CallerMode mode;
    std::string port_reason;
    bool processes_unread;
    std::string timeout_line, wait_ended;
  } cases[] = {
      {contract::CallerMode::kAllChecks, "port 9673 held by process 1234 (other.exe), no Vantic service", false,
       R"({"Dravel":1,"Selkan":1})", "port 9673 held by process 1234 (other.exe), no Vantic service"},
      {contract::CallerMode::kAllChecks, "", false, R"({"Dravel":1,"Selkan":1})", "port not LISTENING"},
      {contract::CallerMode::kPort, unread, true, R"({"Dravel":1,"Selkan":0})", unread},
      {contract::CallerMode::kProcessAndFile, "", true, R"({"Dravel":0,"Selkan":1})", unread},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wait_ended);
    test::LogCapture log;
    FakeWorld world{{false}, {true}, {true}};
    world.reason = c.port_reason;
    world.processes_unread = c.processes_unread;
    ReportIn(world, c.mode);
    EXPECT_THAT(world.printed, ElementsAre(c.timeout_line));
    ASSERT_EQ(log.Lines().size(), 3u);
    EXPECT_EQ(log.Lines()[1], "info: wait ended: " + c.wait_ended);
  }
}

// The run's limit printed the timeout line first: the wait's own line is
// neither printed nor logged as the output, whichever it is.
TEST(ReportReadiness, ALineAlreadyPrintedLeavesTheWaitsLineUnlogged) {
  test::LogCapture log;
  FakeWorld world{{true}, {true}, {true}};
  world.line_taken = true;
  ReportIn(world, contract::CallerMode::kPort);
  EXPECT_TRUE(world.printed.empty());
  EXPECT_THAT(log.Lines(), ElementsAre("info: Case --Dravel Brimvale, check port"));
}

TEST(ReportReadiness, ModesWithoutAWaitPrintNothing) {
  test::LogCapture log;
  FakeWorld world{{true}, {true}, {true}};
  ReportIn(world, contract::CallerMode::kUninstallReport);
  ReportIn(world, contract::CallerMode::kNone);
  EXPECT_TRUE(world.calls.empty());
  EXPECT_TRUE(world.printed.empty());
  EXPECT_THAT(log.Lines(), ElementsAre("info: Case --BrandleAgent UninstallReport"));
}

}  // namespace
}  // namespace starter::app
