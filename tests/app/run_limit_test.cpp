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

// Every line written, in order; several threads may write.
struct Output {
  std::mutex mutex;
  std::vector<std::string> lines;
  std::function<void(const std::string&)> Writer() {
    return [this](const std::string& line) {
      const std::lock_guard<std::mutex> lock(mutex);
      lines.push_back(line);
    };
  }
};

// The run's wait and its limit print at the same moment, again and again:
// exactly one of them writes, and it is the one told so.
TEST(StatusLineOnce, OfTwoThreadsRacingExactlyOnePrints) {
  for (int round = 0; round < 200; ++round) {
    Output output;
    StatusLineOnce line(output.Writer());
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
  Output output;
  const auto writer = output.Writer();
  StatusLineOnce line([&](const std::string& text) {
    entered.set_value();
    finished.wait();
    writer(text);
  });
  EXPECT_FALSE(line.WaitWritten(milliseconds(0)));  // nothing claimed yet
  std::future<bool> winner = std::async(std::launch::async, [&] { return line.Print("success"); });
  entered.get_future().wait();
  EXPECT_FALSE(line.Print("timeout"));
  EXPECT_FALSE(line.WaitWritten(milliseconds(20)));  // the winner is still inside its write
  finish.set_value();
  EXPECT_TRUE(line.WaitWritten(milliseconds(60000)));
  EXPECT_TRUE(winner.get());
  EXPECT_THAT(output.lines, ElementsAre("success"));
}

struct LimitCase {
  const char* name;
  contract::CallerMode mode;
  const char* printed_before;  // by the run's wait; null when it printed nothing
  std::vector<std::string> printed;
};

class ReachRunLimitTest : public ::testing::TestWithParam<LimitCase> {};

// Whatever the run printed, the limit leaves exactly the lines a caller may
// read (its mode's timeout line, whose text per mode the contract's tests
// hold, or nothing) and names the stage the run was held up in.
TEST_P(ReachRunLimitTest, PrintsOnlyWhatIsStillOwedAndNamesTheStage) {
  Output output;
  StatusLineOnce line(output.Writer());
  if (GetParam().printed_before) {
    ASSERT_TRUE(line.Print(GetParam().printed_before));
  }
  RunStage stage;
  stage.Enter("port selection");
  std::vector<std::string> warnings;
  ReachRunLimit(GetParam().mode, line, stage, [&](const char* name) { warnings.emplace_back(name); });
  EXPECT_EQ(output.lines, GetParam().printed);
  EXPECT_THAT(warnings, ElementsAre("port selection"));
  EXPECT_FALSE(line.Print(R"({"Dravel":0,"Selkan":0})"));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ReachRunLimitTest,
    ::testing::Values(
        LimitCase{"PortModeNothingPrinted", contract::CallerMode::kPort, nullptr, {R"({"Dravel":1,"Selkan":0})"}},
        LimitCase{"SuccessAlreadyPrinted", contract::CallerMode::kPort, R"({"Dravel":0,"Selkan":0})",
                  {R"({"Dravel":0,"Selkan":0})"}},
        LimitCase{"UninstallReportPrintsNothing", contract::CallerMode::kUninstallReport, nullptr, {}}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

}  // namespace
}  // namespace starter::app
