#include "app/run_limit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "status/run_history.h"
#include "support/log_capture.h"

namespace starter::app {
namespace {

using ::testing::ElementsAre;
using std::chrono::milliseconds;

using contract::Stage;

// Every line written, in order; several threads may write.
struct Output final : LineWriter {
  std::mutex mutex;
  std::vector<std::string> lines;
  platform::Expected<std::size_t> Write(std::string_view line) override {
    const std::lock_guard<std::mutex> lock(mutex);
    lines.emplace_back(line);
    return line.size();
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
    platform::Expected<std::size_t> Write(std::string_view text) override {
      entered.set_value();
      finished.wait();
      return output.Write(text);
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

// The wait logs its line before the line counts as written, so a limit
// that waits for it logs after that record, and the run reads in the log
// with the line its caller got.
TEST(StatusLineOnce, TheLineCountsAsWrittenOnlyOnceWhatFollowsItIsDone) {
  Output output;
  StatusLineOnce line(output);
  bool written_during = true;
  EXPECT_TRUE(line.Print("success", [&] { written_during = line.WaitWritten(milliseconds(0)); }));
  EXPECT_FALSE(written_during);
  EXPECT_TRUE(line.WaitWritten(milliseconds(0)));
}

// The OUTPUT-> line says what the run printed; a line that did not reach
// its caller whole is followed by a warning that says what failed.
TEST(PrintedLogLines, WarnAfterTheOutputLineOfALineNotDeliveredWhole) {
  const std::string line = R"({"Dravel":0,"Selkan":0})";
  const auto logged = [&line](const std::string& printed, const Delivery& delivery) {
    std::vector<std::string> texts;
    for (const EndLine& logged_line : PrintedLogLines(printed, delivery))
      texts.push_back((logged_line.level == log::Level::kWarn ? "warning " : "info ") + logged_line.text);
    return texts;
  };
  EXPECT_THAT(logged(line, {line.size(), line.size()}), ElementsAre("info OUTPUT->" + line));
  EXPECT_THAT(logged(line, {line.size(), platform::SystemError{"WriteFile", 232}}),
              ElementsAre("info OUTPUT->" + line, "warning status line not delivered: WriteFile GLE=232"));
  EXPECT_THAT(logged(line, {line.size(), std::size_t{5}}),
              ElementsAre("info OUTPUT->" + line, "warning status line not delivered: standard output took 5 of 23 bytes"));
  EXPECT_THAT(logged("", {}), ::testing::IsEmpty());
}

// The write's answer is kept for the line that was printed, and only for it.
TEST(StatusLineOnce, KeepsWhatBecameOfTheLineItPrinted) {
  struct ClosedPipe final : LineWriter {
    platform::Expected<std::size_t> Write(std::string_view) override { return platform::SystemError{"WriteFile", 232}; }
  } closed;
  StatusLineOnce line(closed);
  EXPECT_EQ(DeliveryFailure(line.delivery()), "");
  std::string in_then;
  ASSERT_TRUE(line.Print("success", [&] { in_then = DeliveryFailure(line.delivery()); }));
  EXPECT_EQ(in_then, "WriteFile GLE=232");
  EXPECT_FALSE(line.Print("timeout"));
  EXPECT_EQ(DeliveryFailure(line.delivery()), "WriteFile GLE=232");
}

// Whatever the run printed, the limit leaves exactly the lines a caller may
// read (its mode's timeout line, whose text per mode the contract's tests
// hold, or nothing), and logs what makes the run read as complete: the stage
// it was held up in, the line the limit printed, and the end.
TEST(ReachRunLimit, PrintsOnlyWhatIsStillOwedAndLogsTheRunToItsEnd) {
  const struct Case {
    const char* name;
    contract::CallerMode mode;
    const char* printed_before;  // by the run's wait; null when it printed nothing
    std::vector<std::string> printed;
    std::vector<std::string> logged;  // what the limit logs, in order
  } cases[] = {
      {"port mode, nothing printed",
       contract::CallerMode::kPort,
       nullptr,
       {R"({"Dravel":1,"Selkan":0})"},
       {"warning run ended at its time limit in port selection", R"(info OUTPUT->{"Dravel":1,"Selkan":0})",
        "info [ END ]\n"}},
      {"success already printed",
       contract::CallerMode::kPort,
       R"({"Dravel":0,"Selkan":0})",
       {R"({"Dravel":0,"Selkan":0})"},
       {"warning run ended at its time limit in port selection", "info [ END ]\n"}},
      {"the uninstall report prints nothing",
       contract::CallerMode::kUninstallReport,
       nullptr,
       {},
       {"warning run ended at its time limit in port selection", "info [ END ]\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Output output;
    StatusLineOnce line(output);
    if (c.printed_before) {
      ASSERT_TRUE(line.Print(c.printed_before));
    }
    RunStage stage;
    stage.Enter(Stage::kPortSelection);
    const LimitRecord record = ReachRunLimit(c.mode, line, stage, platform::CallInProgress());
    EXPECT_EQ(output.lines, c.printed);
    EXPECT_EQ(record.stage, Stage::kPortSelection);
    std::vector<std::string> logged;
    for (const EndLine& logged_line : LimitLogLines(record))
      logged.push_back((logged_line.level == log::Level::kWarn ? "warning " : "info ") + logged_line.text);
    EXPECT_EQ(logged, c.logged);
    EXPECT_FALSE(line.Print(R"({"Dravel":0,"Selkan":0})"));
  }
}

// A limit that comes during the launch's process creation lets it finish
// before the run is ended (a starter ended inside it would leave the
// service's process suspended), and still names the launch as the stage.
TEST(ReachRunLimit, LetsAProcessCreationItComesUponFinish) {
  struct Announcing final : LineWriter {
    std::promise<std::string> written;
    platform::Expected<std::size_t> Write(std::string_view text) override {
      written.set_value(std::string(text));
      return text.size();
    }
  } output;
  std::future<std::string> written = output.written.get_future();
  StatusLineOnce line(output);
  RunStage stage;
  stage.Enter(Stage::kLaunch);
  platform::CallInProgress creation;
  auto creating = std::make_unique<platform::CallInProgress::Scope>(creation);
  std::future<LimitRecord> limit = std::async(
      std::launch::async, [&] { return ReachRunLimit(contract::CallerMode::kPort, line, stage, creation); });
  // The line is owed at once, whatever the launch does.
  EXPECT_EQ(written.get(), R"({"Dravel":1,"Selkan":0})");
  EXPECT_EQ(limit.wait_for(milliseconds(50)), std::future_status::timeout);
  creating.reset();
  const LimitRecord record = limit.get();
  EXPECT_EQ(record.stage, Stage::kLaunch);
  EXPECT_FALSE(record.launch_overtaken);
}

// A creation that outlasts its grace may have left the service's process
// suspended: the limit says so, and it is ended with the run. A launch held
// up after its creation returned (its log line, say) started a service that
// runs: nothing is ended, and the limit does not wait for it.
TEST(ReachRunLimit, OnlyACreationHeldPastItsGraceIsOvertaken) {
  Output output;
  StatusLineOnce line(output);
  RunStage stage;
  stage.Enter(Stage::kLaunch);
  platform::CallInProgress creation;
  {
    const platform::CallInProgress::Scope creating(creation);
    const LimitRecord record = ReachRunLimit(contract::CallerMode::kPort, line, stage, creation);
    EXPECT_TRUE(record.launch_overtaken);
    EXPECT_EQ(record.stage, Stage::kLaunch);
    std::vector<std::string> logged;
    for (const EndLine& logged_line : LimitLogLines(record)) logged.push_back(logged_line.text);
    EXPECT_THAT(logged, ElementsAre("run ended at its time limit in launch",
                                    "launch did not return: the service's process it started is ended",
                                    R"(OUTPUT->{"Dravel":1,"Selkan":0})", "[ END ]\n"));
  }
  const auto before = std::chrono::steady_clock::now();
  const LimitRecord after_creation = ReachRunLimit(contract::CallerMode::kPort, line, stage, creation);
  EXPECT_FALSE(after_creation.launch_overtaken);
  EXPECT_EQ(after_creation.stage, Stage::kLaunch);
  EXPECT_LT(std::chrono::steady_clock::now() - before, kLaunchFinishGrace);
}


constexpr char kSuccessLine[] = R"({"Dravel":0,"Selkan":0})";

// The run's captured lines as one starter's lines in its log file, as the
// status program reads them back.
std::string AsLogFile(const std::vector<std::string>& captured) {
  std::string text;
  for (const std::string& line : captured) {
    const std::size_t colon = line.find(": ");
    text += "[7] [2026-12-08 10:00:00.000] [" + line.substr(0, colon) + "] " + line.substr(colon + 2) + "\r\n";
  }
  return text;
}

std::size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// Only something like exhausted memory, or a thread that cannot be created,
// escapes a stage: the caller still reads its mode's timeout line, once,
// and the log has that line and one end.
TEST(RunToItsEnd, OwesTheCallerItsModesTimeoutLineOnlyWhenNoneWasPrinted) {
  struct Case {
    contract::CallerMode mode;
    std::vector<std::string> printed;
  };
  const Case cases[] = {{contract::CallerMode::kAllChecks, {R"({"Dravel":1,"Selkan":1})"}},
                        {contract::CallerMode::kPort, {R"({"Dravel":1,"Selkan":0})"}},
                        {contract::CallerMode::kProcessAndFile, {R"({"Dravel":0,"Selkan":1})"}},
                        {contract::CallerMode::kUninstallReport, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    test::LogCapture log;
    Output output;
    StatusLineOnce line(output);
    RunEnd end;
    EXPECT_TRUE(RunToItsEnd(c.mode, line, end, [] { throw std::bad_alloc(); }));
    EXPECT_EQ(output.lines, c.printed);
    std::vector<std::string> expected = {"warning: run ended early: std::bad_alloc"};
    for (const std::string& printed : c.printed) expected.push_back("info: OUTPUT->" + printed);
    expected.push_back("info: [ END ]\n");
    EXPECT_EQ(log.Lines(), expected);
  }
  test::LogCapture log;
  Output output;
  StatusLineOnce line(output);
  RunEnd end;
  const auto no_thread = [] { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); };
  EXPECT_TRUE(RunToItsEnd(contract::CallerMode::kPort, line, end, no_thread));
  EXPECT_THAT(output.lines, ElementsAre(R"({"Dravel":1,"Selkan":0})"));
  EXPECT_THAT(log.Lines().front(), ::testing::StartsWith("warning: run ended early: "));

  // A run that printed its line ends with the end line alone.
  test::LogCapture printed_log;
  Output printed_output;
  StatusLineOnce printed_line(printed_output);
  RunEnd printed_end;
  EXPECT_TRUE(RunToItsEnd(contract::CallerMode::kPort, printed_line, printed_end,
                          [&] { printed_line.Print(kSuccessLine); }));
  EXPECT_THAT(printed_output.lines, ElementsAre(kSuccessLine));
  EXPECT_THAT(printed_log.Lines(), ElementsAre("info: [ END ]\n"));
  EXPECT_EQ(printed_end.owner(), RunEnd::Owner::kRun);

  // One whose record was refused its memory keeps its OUTPUT-> line, and
  // counts as written.
  test::LogCapture refused_log;
  Output refused_output;
  StatusLineOnce refused_line(refused_output);
  RunEnd refused_end;
  EXPECT_TRUE(RunToItsEnd(contract::CallerMode::kPort, refused_line, refused_end,
                          [&] { refused_line.Print(kSuccessLine, [] { throw std::bad_alloc(); }); }));
  EXPECT_THAT(refused_log.Lines(), ElementsAre(std::string("info: OUTPUT->") + kSuccessLine,
                                               "warning: run ended early: std::bad_alloc", "info: [ END ]\n"));
  EXPECT_TRUE(refused_line.WaitWritten(milliseconds(0)));
}

// The run and its limit meet at the end, in each order: one of them writes
// the end, at most one warning names the limit, and the status program
// reads the run with the line its caller got.
TEST(RunEnd, TheRunAndItsLimitEndARunOnceInEitherOrder) {
  struct Case {
    const char* name;
    bool limit_before_line;  // else after the line, before the run's end
    bool limit_after_end;    // the run's end came first
    std::string printed;
    std::size_t warnings;
  };
  const Case cases[] = {
      {"the limit between the line and the end", false, false, kSuccessLine, 1},
      {"the limit before the line", true, false, R"({"Dravel":1,"Selkan":0})", 1},
      {"the limit after the end", false, true, kSuccessLine, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::LogCapture log;
    Output output;
    StatusLineOnce line(output);
    RunEnd end;
    RunStage stage;
    const platform::CallInProgress creation;
    // As the limit's thread does, from its claim of the end.
    const auto limit_comes = [&] {
      if (const std::optional<LimitRecord> record = ClaimEndAtLimit(contract::CallerMode::kPort, line, end, stage, creation))
        for (const EndLine& limit_line : LimitLogLines(*record)) log::Write(limit_line.level, limit_line.text);
    };
    const bool run_ended = RunToItsEnd(contract::CallerMode::kPort, line, end, [&] {
      log::Info("[ START ] 2.3.6.2");
      stage.Enter(Stage::kWait);
      if (c.limit_before_line) limit_comes();
      line.Print(kSuccessLine, [] { log::Info("OUTPUT->{}", kSuccessLine); });
      stage.Enter(Stage::kEnd);
      if (!c.limit_before_line && !c.limit_after_end) limit_comes();
    });
    if (c.limit_after_end) limit_comes();
    EXPECT_EQ(run_ended, c.limit_after_end);
    EXPECT_THAT(output.lines, ElementsAre(c.printed));
    const std::vector<std::string> lines = log.Lines();
    EXPECT_EQ(CountOf(lines, "info: [ END ]\n"), 1u);
    const auto limit_warnings = std::count_if(lines.begin(), lines.end(), [](const std::string& logged) {
      return logged.rfind("warning: run ended at its time limit", 0) == 0;
    });
    EXPECT_EQ(static_cast<std::size_t>(limit_warnings), c.warnings);
    const std::vector<status::StarterRun> runs = status::LastCompletedRuns("", AsLogFile(lines), 5);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].status_line, c.printed);
    EXPECT_EQ(lines.back(), "info: [ END ]\n");
  }
}

}  // namespace
}  // namespace starter::app
