#include "app/run_limit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace starter::app {
namespace {

using ::testing::ElementsAre;
using std::chrono::milliseconds;

using contract::Stage;

// Every line written, in order; several threads may write.
struct Output final : LineWriter {
  std::mutex mutex;
  std::vector<std::string> lines;
  void Write(std::string_view line) override {
    const std::lock_guard<std::mutex> lock(mutex);
    lines.emplace_back(line);
  }
};

// The run's wait and its limit print at the same moment, again and again:
// exactly one of them writes, and it is the one told so.
TEST(StatusLineOnce, OfTwoThreadsRacingExactlyOnePrints) {
  for (int round = 0; round < 200; ++round) {
    Output output;
    StatusLineOnce line(output);
    std::promise<void> go;
    const std::shared_future<void> start = go.get_future().share();
    auto racer = [&](const char* text) {
      return std::async(std::launch::async, [&line, start, text] {
        start.wait();
        return line.Print(text);
      });
    };
    std::future<bool> wait = racer("wait"), limit = racer("limit");
    go.set_value();
    const bool wait_printed = wait.get(), limit_printed = limit.get();
    ASSERT_NE(wait_printed, limit_printed);
    ASSERT_THAT(output.lines, ElementsAre(wait_printed ? "wait" : "limit"));
    ASSERT_TRUE(line.WaitWritten(milliseconds(0)));
  }
}

// The limit must not end the process while the run's line is half written:
// it waits until the write is done, and only as long as it is given.
TEST(StatusLineOnce, TheLoserWaitsForTheWinnersLineToBeWrittenWhole) {
  std::promise<void> entered, finish;
  std::shared_future<void> finished = finish.get_future().share();
  struct SlowWriter final : LineWriter {
    std::promise<void>& entered;
    std::shared_future<void>& finished;
    Output output;
    SlowWriter(std::promise<void>& e, std::shared_future<void>& f) : entered(e), finished(f) {}
    void Write(std::string_view text) override {
      entered.set_value();
      finished.wait();
      output.Write(text);
    }
  } writer(entered, finished);
  StatusLineOnce line(writer);
  EXPECT_FALSE(line.WaitWritten(milliseconds(0)));  // nothing claimed yet
  std::future<bool> winner = std::async(std::launch::async, [&] { return line.Print("success"); });
  entered.get_future().wait();
  EXPECT_FALSE(line.Print("timeout"));
  EXPECT_FALSE(line.WaitWritten(milliseconds(20)));  // the winner is still inside its write
  finish.set_value();
  EXPECT_TRUE(line.WaitWritten(milliseconds(60000)));
  EXPECT_TRUE(winner.get());
  EXPECT_THAT(writer.output.lines, ElementsAre("success"));
}

struct LimitCase {
  const char* name;
  contract::CallerMode mode;
  const char* printed_before;  // by the run's wait; null when it printed nothing
  std::vector<std::string> printed;
  std::vector<std::string> logged;  // what the limit logs, in order
};

class ReachRunLimitTest : public ::testing::TestWithParam<LimitCase> {};

// Whatever the run printed, the limit leaves exactly the lines a caller may
// read (its mode's timeout line, whose text per mode the contract's tests
// hold, or nothing), and logs what makes the run read as complete: the stage
// it was held up in, the line the limit printed, and the end.
TEST_P(ReachRunLimitTest, PrintsOnlyWhatIsStillOwedAndLogsTheRunToItsEnd) {
  Output output;
  StatusLineOnce line(output);
  if (GetParam().printed_before) {
    ASSERT_TRUE(line.Print(GetParam().printed_before));
  }
  RunStage stage;
  stage.Enter(Stage::kPortSelection);
  const LimitRecord record = ReachRunLimit(GetParam().mode, line, stage);
  EXPECT_EQ(output.lines, GetParam().printed);
  EXPECT_EQ(record.stage, Stage::kPortSelection);
  std::vector<std::string> logged;
  for (const LimitLine& logged_line : LimitLogLines(record))
    logged.push_back((logged_line.level == log::Level::kWarn ? "warning " : "info ") + logged_line.text);
  EXPECT_EQ(logged, GetParam().logged);
  EXPECT_FALSE(line.Print(R"({"Dravel":0,"Selkan":0})"));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ReachRunLimitTest,
    ::testing::Values(
        LimitCase{"PortModeNothingPrinted",
                  contract::CallerMode::kPort,
                  nullptr,
                  {R"({"Dravel":1,"Selkan":0})"},
                  {"warning run ended at its time limit in port selection", R"(info OUTPUT->{"Dravel":1,"Selkan":0})",
                   "info [ END ]\n"}},
        LimitCase{"SuccessAlreadyPrinted",
                  contract::CallerMode::kPort,
                  R"({"Dravel":0,"Selkan":0})",
                  {R"({"Dravel":0,"Selkan":0})"},
                  {"warning run ended at its time limit in port selection", "info [ END ]\n"}},
        LimitCase{"UninstallReportPrintsNothing",
                  contract::CallerMode::kUninstallReport,
                  nullptr,
                  {},
                  {"warning run ended at its time limit in port selection", "info [ END ]\n"}}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

// A limit that comes during the launch lets the process creation finish
// before the run is ended (a starter ended inside it would leave the
// service's process suspended), and still names the launch as the stage.
TEST(ReachRunLimit, LetsALaunchItComesUponFinish) {
  struct Announcing final : LineWriter {
    std::promise<std::string> written;
    void Write(std::string_view text) override { written.set_value(std::string(text)); }
  } output;
  std::future<std::string> written = output.written.get_future();
  StatusLineOnce line(output);
  RunStage stage;
  stage.Enter(Stage::kLaunch);
  std::future<LimitRecord> limit =
      std::async(std::launch::async, [&] { return ReachRunLimit(contract::CallerMode::kPort, line, stage); });
  // The line is owed at once, whatever the launch does.
  EXPECT_EQ(written.get(), R"({"Dravel":1,"Selkan":0})");
  EXPECT_EQ(limit.wait_for(milliseconds(50)), std::future_status::timeout);
  stage.Enter(Stage::kWait);
  EXPECT_EQ(limit.get().stage, Stage::kLaunch);
}

// The wait for a stage to pass is bounded, and answers whether it passed.
TEST(RunStage, WaitToLeaveIsBoundedAndSaysWhetherTheStagePassed) {
  RunStage stage;
  stage.Enter(Stage::kLaunch);
  EXPECT_FALSE(stage.WaitToLeave(Stage::kLaunch, milliseconds(10)));
  EXPECT_TRUE(stage.WaitToLeave(Stage::kWait, milliseconds(0)));
  std::thread later([&] { stage.Enter(Stage::kWait); });
  EXPECT_TRUE(stage.WaitToLeave(Stage::kLaunch, milliseconds(60000)));
  later.join();
}

}  // namespace
}  // namespace starter::app
