// The starter's run lines read back by the status program: runs written
// through the starter's own line functions and its real log layout, then
// read through the history, so that the writer and the reader cannot drift
// apart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <sstream>

#include "app/readiness_wait.h"
#include "contract/product_version.h"
#include "contract/run_log.h"
#include "log/diag_log.h"
#include "log/log_lines.h"
#include "log/log_text.h"
#include "status/run_history.h"

namespace starter::status {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;

// A machine that answers every poll alike, on a clock only the waits move.
struct SteadyMachine final : app::ReadinessProbe {
  struct Clock final : app::FolderWatch {
    std::chrono::microseconds now{0};
    std::chrono::microseconds Now() override { return now; }
    bool WaitForChange(std::chrono::milliseconds timeout) override {
      now += timeout;
      return false;
    }
    void Pause(std::chrono::milliseconds duration) override { now += duration; }
  };
  SteadyMachine(app::PortCheck answer, bool up) : port(std::move(answer)), service_up(up) {}
  app::PortCheck CheckPort(std::uint16_t) override { return port; }
  platform::Expected<service::ServiceSearch> FindService() override {
    return service_up ? service::ServiceSearch::kFound : service::ServiceSearch::kNotFound;
  }
  bool MarkerPresent() override { return service_up; }
  void RemoveConnectedMarker() override {}
  void KeepConnectedMarker() override {}
  std::unique_ptr<app::FolderWatch> WatchMarkerFolder() override { return std::make_unique<Clock>(); }
  std::unique_ptr<app::FolderWatch> WatchNothing() override { return std::make_unique<Clock>(); }

  app::PortCheck port;
  bool service_up;
};

struct Discard final : app::LineWriter {
  platform::Expected<std::size_t> Write(std::string_view line) override { return line.size(); }
};

// Standard output whose reader has gone: the caller closed its pipe.
struct ClosedPipe final : app::LineWriter {
  platform::Expected<std::size_t> Write(std::string_view) override { return platform::SystemError{"WriteFile", 232}; }
};

// The starter's log for the life of a test, in its real layout.
class RunLog {
 public:
  // A run's first lines, as the starter's entry logs them.
  void Start(const std::vector<std::string>& arguments) {
    log::Info("{}", contract::StartMessage(contract::kProductVersion));
    for (std::size_t i = 0; i < arguments.size(); ++i)
      log::Info("{}", contract::ArgumentMessage(static_cast<int>(i) + 1, log::EscapeControls(arguments[i])));
  }
  // The wait of `mode` on `machine` and the run's end, its line written to `output`.
  void WaitAndEnd(contract::CallerMode mode, SteadyMachine machine, app::LineWriter&& output = Discard()) {
    app::StatusLineOnce line(output);
    app::RunEnd end;
    app::RunToItsEnd(mode, line, end, [&] { app::ReportReadiness(mode, 9691, machine, line); });
  }
  // The lines of a run its time limit ended.
  void LimitEnds(const app::LimitRecord& record) {
    for (const app::EndLine& line : app::LimitLogLines(record)) log::Write(line.level, line.text);
  }
  std::string Text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  log::DiagnosticLog installed_{
      std::make_shared<spdlog::logger>("run", std::make_shared<spdlog::sinks::ostream_sink_mt>(text_))};
};

std::vector<std::string> MessagesOf(const std::string& text) {
  std::vector<std::string> messages;
  for (const log::LogLine& line : log::ParseLogLines(text)) messages.push_back(line.message);
  return messages;
}

TEST(RunLog, EachRunTheStarterWritesIsReadBackWithItsArgumentsLineReasonAndStage) {
  constexpr char kHeldBy[] = "port 9691 held by process 1234 (other.exe), no Vantic service";
  RunLog log;
  log.Start({"--Dravel", "Brimvale", "x\r\ny"});
  log.WaitAndEnd(contract::CallerMode::kPort, SteadyMachine({false, kHeldBy}, false));
  // The bytes every reader of the log has read until now.
  EXPECT_THAT(MessagesOf(log.Text()),
              ElementsAre("[ START ] 2.3.6.2", "param 1->--Dravel", "param 2->Brimvale", "param 3->x\\r\\ny",
                          "Case --Dravel Brimvale, check port", std::string("wait ended: ") + kHeldBy,
                          R"(OUTPUT->{"Dravel":1,"Selkan":0})", "[ END ]"));
  EXPECT_THAT(log.Text(), EndsWith("] [info] [ END ]\n\r\n"));

  log.Start({});
  log.WaitAndEnd(contract::CallerMode::kAllChecks, SteadyMachine({true, ""}, true));
  log.Start({"--BrandleAgent", "Dravel"});
  log.LimitEnds({contract::Stage::kLaunch, contract::kProcessTimeoutLine});
  log.Start({"--Dravel", "Brimvale"});
  log.WaitAndEnd(contract::CallerMode::kPort, SteadyMachine({true, ""}, true), ClosedPipe());

  const std::vector<StarterRun> runs = LastCompletedRuns("", log.Text(), kMaxHistoryRuns);
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_THAT(runs[0].arguments, ElementsAre("--Dravel", "Brimvale", "x\\r\\ny"));
  EXPECT_EQ(runs[0].status_line, contract::kPortTimeoutLine);
  EXPECT_EQ(runs[0].wait_ended, kHeldBy);
  EXPECT_EQ(OutcomeOf(runs[0]), Outcome::kTimedOut);

  EXPECT_TRUE(runs[1].arguments.empty());
  EXPECT_EQ(runs[1].status_line, contract::kSuccessLine);
  EXPECT_EQ(OutcomeOf(runs[1]), Outcome::kReady);

  EXPECT_THAT(runs[2].arguments, ElementsAre("--BrandleAgent", "Dravel"));
  EXPECT_EQ(runs[2].status_line, contract::kProcessTimeoutLine);
  EXPECT_EQ(runs[2].time_limit_stage, "launch");
  EXPECT_EQ(OutcomeOf(runs[2]), Outcome::kTimeLimit);

  // The line its caller never got: what the run printed, and that it was not delivered.
  EXPECT_EQ(runs[3].status_line, contract::kSuccessLine);
  EXPECT_EQ(runs[3].not_delivered, "WriteFile GLE=232");
  EXPECT_THAT(MessagesOf(log.Text()), ::testing::Contains("status line not delivered: WriteFile GLE=232"));
  for (const StarterRun& delivered : {runs[0], runs[1], runs[2]}) EXPECT_EQ(delivered.not_delivered, "");
  for (const StarterRun& run : runs) {
    EXPECT_EQ(run.process_id, log::ParseLogLines(log.Text()).front().process_id);
    EXPECT_TRUE(WaitedMilliseconds(run).has_value()) << run.started << " to " << run.printed;
  }
}

}  // namespace
}  // namespace starter::status
