// Reading the starter's completed runs back from its log, as it may lie on a
// machine: runs of several starters interleaved, a line still being written,
// a run whose start was rotated away, a log forged to exhaust the reader.
#include "status/run_history.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "status/report.h"

namespace starter::status {
namespace {

std::string Line(int process_id, const std::string& time, const std::string& message) {
  return "[" + std::to_string(process_id) + "] [2026-12-08 " + time + "] [info] " + message + "\r\n";
}

// The last completed run as the report finds it: the rotated file is read
// only when the current one needs it.
std::optional<StarterRun> LastOf(const std::string& current, const std::string& rotated) {
  std::vector<StarterRun> runs = LastCompletedRuns(NeedsRotatedFile(current) ? rotated : "", current, 1);
  if (runs.empty()) return std::nullopt;
  return runs.back();
}

struct RunCase {
  const char* name;
  std::string current;
  std::string rotated;
  bool found;
  std::uint32_t process_id;
  std::string started;
  std::vector<std::string> arguments;
  std::string status_line;
  std::string wait_ended;
};

TEST(LastCompletedRuns, TakesTheRunWhoseEndLineComesLast) {
  const std::string a_start = Line(11, "10:00:00.000", "[ START ] 2.3.6.2");
  const std::string b_start = Line(22, "10:00:01.000", "[ START ] 2.3.6.2");
  const std::string a_mode = Line(11, "10:00:00.100", "param 1->--BrandleAgent") +
                             Line(11, "10:00:00.100", "param 2->Selkan") +
                             Line(11, "10:00:00.200", "Case --BrandleAgent Dravel, check process and file");
  const std::string a_timeout = Line(11, "10:00:20.500", "wait ended: WsClientConnected.json not Exist") +
                                Line(11, "10:00:20.500", R"(OUTPUT->{"Dravel":0,"Selkan":1})");
  const std::string b_success = Line(22, "10:00:01.300", R"(OUTPUT->{"Dravel":0,"Selkan":0})");
  const std::string a_end = Line(11, "10:00:20.501", "[ END ]\n");
  const std::string b_end = Line(22, "10:00:01.400", "[ END ]\n");
  const std::vector<RunCase> cases = {
      {"interleaved: the later end wins", a_start + a_mode + b_start + b_success + b_end + a_timeout + a_end, "", true,
       11, "2026-12-08 10:00:00.000", {"--BrandleAgent", "Selkan"}, R"({"Dravel":0,"Selkan":1})",
       "WsClientConnected.json not Exist"},
      {"a run still going is not the last completed one", a_start + a_mode + b_start + b_success + b_end + a_timeout,
       "", true, 22, "2026-12-08 10:00:01.000", {}, R"({"Dravel":0,"Selkan":0})", ""},
      {"a torn last line is passed over", b_start + b_success + "[22] [2026-12-08 10:00:01.400] [info] [ EN", "", false, 0, "", {}, "", ""},
      {"a start in the rotated file", a_mode + a_timeout + a_end, a_start, true, 11, "2026-12-08 10:00:00.000",
       {"--BrandleAgent", "Selkan"}, R"({"Dravel":0,"Selkan":1})", "WsClientConnected.json not Exist"},
      {"a process id used again starts afresh", a_start + a_mode + a_start + a_end, "", true, 11,
       "2026-12-08 10:00:00.000", {}, "", ""},
      {"no run at all", "garbage\r\n\r\n[x] [y] [z] w\r\n", "", false, 0, "", {}, "", ""},
      {"indexes no command line can hold are passed over",
       b_start + Line(22, "10:00:01.100", "param 4294967295->y") + Line(22, "10:00:01.100", "param 32768->y") +
           Line(22, "10:00:01.100", "param 18446744073709551616->y") + Line(22, "10:00:01.100", "param 2->Brimvale") +
           Line(22, "10:00:01.100", "param 1->--Dravel") + b_end,
       "", true, 22, "2026-12-08 10:00:01.000", {"--Dravel", "Brimvale"}, "", ""},
      {"a run that began before the rotation ends after one that began after it",
       b_start + b_success + b_end + a_timeout + a_end, a_start + a_mode, true, 11, "2026-12-08 10:00:00.000",
       {"--BrandleAgent", "Selkan"}, R"({"Dravel":0,"Selkan":1})", "WsClientConnected.json not Exist"},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<StarterRun> run = LastOf(c.current, c.rotated);
    ASSERT_EQ(run.has_value(), c.found);
    if (!run) continue;
    EXPECT_EQ(run->process_id, c.process_id);
    EXPECT_EQ(run->started, c.started);
    EXPECT_EQ(run->arguments, c.arguments);
    EXPECT_EQ(run->status_line, c.status_line);
    EXPECT_EQ(run->wait_ended, c.wait_ended);
  }
}

// The rotated file is read only when the current one holds no complete run.
TEST(NeedsRotatedFile, OnlyWhenTheCurrentFileDoesNotSettleTheLastRun) {
  EXPECT_FALSE(NeedsRotatedFile(Line(5, "09:00:00.000", "[ START ] 2.3.6.2") + Line(5, "09:00:00.100", "[ END ]\n")));
  EXPECT_TRUE(NeedsRotatedFile(Line(5, "09:00:00.100", "[ END ]\n")));
  // A complete run, and an end whose start the file does not hold.
  EXPECT_TRUE(NeedsRotatedFile(Line(5, "09:00:00.000", "[ START ] 2.3.6.2") + Line(5, "09:00:00.100", "[ END ]\n") +
                               Line(6, "09:00:00.200", "[ END ]\n")));
}

// A tail read from the middle of a file may begin inside a line of
// megabytes whose end looks like a line of its own.
TEST(WholeLinesOfTail, DropsTheFirstLineOfATailThatBeginsInsideTheFile) {
  const std::string forged_start = Line(77, "10:00:00.000", "[ START ] 2.3.6.2");
  const std::string tail = forged_start + Line(77, "10:00:01.000", "[ END ]\n");
  EXPECT_FALSE(LastOf(std::string(WholeLinesOfTail(tail, false)), ""));
  EXPECT_EQ(WholeLinesOfTail(tail, false), Line(77, "10:00:01.000", "[ END ]\n"));
  EXPECT_EQ(WholeLinesOfTail(tail, true), tail);
  EXPECT_EQ(WholeLinesOfTail(std::string(100, 'x'), false), "");
}

// Three callers, one of them cut by its time limit (which logs what it
// printed and its end line after its warning), one that prints nothing.
std::string ThreeCallers() {
  return Line(31, "23:59:59.900", "[ START ] 2.3.6.2") + Line(31, "23:59:59.901", "param 1->--Dravel") +
         Line(31, "23:59:59.901", "param 2->Brimvale") + Line(32, "23:59:59.950", "[ START ] 2.3.6.2") +
         Line(32, "23:59:59.951", "param 1->--BrandleAgent") + Line(32, "23:59:59.951", "param 2->UninstallReport") +
         Line(32, "23:59:59.990", "[ END ]\n") +
         "[31] [2026-12-09 00:00:35.900] [warning] run ended at its time limit in port selection\r\n"
         "[31] [2026-12-09 00:00:35.901] [info] OUTPUT->{\"Dravel\":1,\"Selkan\":0}\r\n"
         "[31] [2026-12-09 00:00:35.902] [info] [ END ]\n\r\n" +
         Line(33, "23:59:59.000", "[ START ] 2.3.6.2") + Line(33, "23:59:59.800", R"(OUTPUT->{"Dravel":0,"Selkan":0})") +
         Line(33, "23:59:59.900", "[ END ]\n");
}

TEST(LastCompletedRuns, ListsTheRunsInTheOrderTheyEndedWithTheirWaits) {
  const std::vector<StarterRun> runs = LastCompletedRuns("", ThreeCallers(), kDefaultHistoryRuns);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].process_id, 32u);
  EXPECT_EQ(runs[0].arguments, (std::vector<std::string>{"--BrandleAgent", "UninstallReport"}));
  EXPECT_EQ(OutcomeOf(runs[0]), Outcome::kNoOutput);
  EXPECT_EQ(WaitedMilliseconds(runs[0]), 40);  // to its end: it printed nothing
  EXPECT_EQ(runs[1].process_id, 31u);
  EXPECT_EQ(runs[1].time_limit_stage, "port selection");
  EXPECT_EQ(runs[1].status_line, R"({"Dravel":1,"Selkan":0})");
  EXPECT_EQ(OutcomeOf(runs[1]), Outcome::kTimeLimit);
  EXPECT_EQ(WaitedMilliseconds(runs[1]), 36001);  // across midnight, to the line it printed
  EXPECT_EQ(OutcomeOf(runs[2]), Outcome::kReady);
  EXPECT_EQ(WaitedMilliseconds(runs[2]), 800);
  const std::vector<StarterRun> last_two = LastCompletedRuns("", ThreeCallers(), 2);
  ASSERT_EQ(last_two.size(), 2u);
  EXPECT_EQ(last_two[0].process_id, 31u);
}

TEST(WaitedMilliseconds, NoneWhenATimeDoesNotReadOrTheClockWentBack) {
  StarterRun run;
  run.started = "2024-02-28 23:00:00.000";
  run.ended = "2024-03-01 00:00:00.500";  // a leap day between
  EXPECT_EQ(WaitedMilliseconds(run), (25 * 3600 + 0) * 1000 + 500);
  for (const char* ended : {"2024-02-28 22:59:59.999", "2024-02-28 23:00:00", "2024-13-01 00:00:00.000",
                            "2024-02-28T23:00:01.000", "2024-02-28 23:00:0x.000", ""}) {
    run.ended = ended;
    EXPECT_FALSE(WaitedMilliseconds(run)) << ended;
  }
}

TEST(Summarize, CountsEachOutcomeAndTakesTheMedianAndLongestWait) {
  std::vector<StarterRun> runs = LastCompletedRuns("", ThreeCallers(), kDefaultHistoryRuns);
  StarterRun forged;
  forged.started = "not a time";
  forged.status_line = "x";
  forged.wait_ended = "port not LISTENING";
  runs.push_back(forged);
  const HistorySummary summary = Summarize(runs);
  EXPECT_EQ(summary.counts[static_cast<std::size_t>(Outcome::kReady)], 1u);
  EXPECT_EQ(summary.counts[static_cast<std::size_t>(Outcome::kTimeLimit)], 1u);
  EXPECT_EQ(summary.counts[static_cast<std::size_t>(Outcome::kNoOutput)], 1u);
  EXPECT_EQ(summary.counts[static_cast<std::size_t>(Outcome::kOtherOutput)], 1u);
  EXPECT_EQ(summary.counts[static_cast<std::size_t>(Outcome::kTimedOut)], 0u);
  EXPECT_EQ(summary.median_wait_ms, 800);  // of 40, 800 and 36001: the forged run's wait does not read
  EXPECT_EQ(summary.longest_wait_ms, 36001);
  runs.pop_back();
  runs.pop_back();
  EXPECT_EQ(Summarize(runs).median_wait_ms, 40);  // the lower middle of two
  EXPECT_FALSE(Summarize({}).median_wait_ms);
}

// A forged log: arguments at every index a command line can hold, more runs
// started than starters ever run side by side, lines of a megabyte. What is
// kept stays within its bounds.
TEST(LastCompletedRuns, KeepsWithinItsBoundsWhateverTheLogHolds) {
  std::string log;
  for (int id = 1; id <= static_cast<int>(kMaxOpenRuns) + 1; ++id) {
    log += Line(id, "10:00:00.000", "[ START ] 2.3.6.2");
    log += Line(id, "10:00:00.001", "param 32767->x") + Line(id, "10:00:00.001", "param 9->x");
    log += Line(id, "10:00:00.001", "param 3->" + std::string(2 * kKeptTextBytes, 'a'));
  }
  log += Line(1, "10:00:01.000", "OUTPUT->" + std::string(1 << 20, 'o'));
  for (int id = 1; id <= static_cast<int>(kMaxOpenRuns) + 1; ++id) log += Line(id, "10:00:02.000", "[ END ]\n");
  const std::vector<StarterRun> runs = LastCompletedRuns("", log, kMaxHistoryRuns);
  // The first run was forgotten when the 65th started: its end has no start.
  ASSERT_EQ(runs.size(), kMaxOpenRuns);
  EXPECT_EQ(runs.front().process_id, 2u);
  EXPECT_TRUE(NeedsRotatedFile(log));
  for (const StarterRun& run : runs) {
    ASSERT_EQ(run.arguments.size(), 3u);
    EXPECT_EQ(run.arguments[2].size(), kKeptTextBytes);
  }
  const std::vector<StarterRun> printed =
      LastCompletedRuns("", Line(1, "10:00:00.000", "[ START ] 2.3.6.2") + Line(1, "10:00:01.000", "OUTPUT->" + std::string(1 << 20, 'o')) +
                                Line(1, "10:00:02.000", "[ END ]\n"), 1);
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_EQ(printed[0].status_line.size(), kKeptTextBytes);
}

TEST(FormatHistory, ShowsEachRunAndTheSummaryInTextAndJson) {
  Observations seen;
  seen.version = "2.3.6.2";
  seen.log_file = L"C:\\log";
  seen.history = LastCompletedRuns("", ThreeCallers() + Line(34, "10:00:00.000", "[ START ] 2.3.6.2") +
                                           Line(34, "10:00:00.001", "param 1->a\tb") + Line(34, "10:00:00.002", "[ END ]\n"),
                                   kDefaultHistoryRuns);
  const std::string text = FormatHistoryText(seen);
  EXPECT_THAT(text, ::testing::HasSubstr("2026-12-08 23:59:59.900  process 31  --Dravel Brimvale (arguments: --Dravel "
                                         "Brimvale)  printed {\"Dravel\":1,\"Selkan\":0}  ended at its time limit in "
                                         "port selection  waited 36001 ms\n"));
  EXPECT_THAT(text, ::testing::HasSubstr("process 32  --BrandleAgent UninstallReport (arguments: --BrandleAgent UninstallReport)  printed nothing  waited 40 ms\n"));
  EXPECT_THAT(text, ::testing::HasSubstr(R"(process 34  no arguments (arguments: a\tb)  printed nothing)"));
  EXPECT_THAT(text, ::testing::HasSubstr(
                        "summary           4 runs: 1 ready, 1 time limit, 2 printed nothing; median wait 40 ms, longest 36001 ms\n"));
  const std::string json = FormatHistoryJson(seen);
  EXPECT_THAT(json, ::testing::StartsWith(R"({"schema_version":1,"version":"2.3.6.2",)"));
  EXPECT_THAT(json, ::testing::HasSubstr(R"("status_line":"{\"Dravel\":1,\"Selkan\":0}","wait_ended":null,)"
                                         R"("time_limit_stage":"port selection","outcome":"time limit","waited_ms":36001,"not_delivered":null})"));
  EXPECT_THAT(json, ::testing::HasSubstr(R"("summary":{"runs":4,"outcomes":{"ready":1,"timed out":0,"time limit":1,)"
                                         R"("printed nothing":2,"printed another line":0},"median_wait_ms":40,"longest_wait_ms":36001})"));
  seen.failed = "the report failed while reading the starter's log: std::bad_alloc";
  EXPECT_THAT(FormatHistoryJson(seen), ::testing::HasSubstr(R"("verdict":{"state":"unknown")"));
  EXPECT_THAT(FormatHistoryText(seen), ::testing::HasSubstr("verdict           unknown: the report failed while reading"));
}

// The holder of the stored port by its image, where the system names it.
TEST(FormatReport, NamesTheListenersImageAndTheStageATimeLimitEndedTheLastRunIn) {
  Observations seen;
  seen.install_root = L"C:\\Program Files";
  seen.port_64bit_view.value = 9673;
  seen.listeners = {{4321, false}, {4400, false}};
  seen.owner_images = {{4321, L"C:\\Windows\\System32\\svchost.exe"}};
  seen.owner_looks = {{4321, {service::Identity::kOtherProgram, L"svchost.exe"}},
                      {4400, {service::Identity::kOtherProgram, L""}}};
  seen.last_run = LastCompletedRuns("", ThreeCallers(), 2).front();
  const std::string text = FormatText(seen, {});
  EXPECT_THAT(text, ::testing::HasSubstr("listening (IPv4), owner 4321 (svchost.exe): no Vantic service\n"));
  EXPECT_THAT(text, ::testing::HasSubstr("listening (IPv4), owner 4400: no Vantic service\n"));
  EXPECT_THAT(text, ::testing::HasSubstr("                  ended at its time limit in port selection\n"));
  const std::string json = FormatJson(seen, {});
  EXPECT_THAT(json, ::testing::HasSubstr(R"({"owner_id":4321,"ipv6":false,"is_service":false,)"
                                         R"("owner_image":"C:\\Windows\\System32\\svchost.exe"})"));
  EXPECT_THAT(json, ::testing::HasSubstr(R"({"owner_id":4400,"ipv6":false,"is_service":false,"owner_image":null})"));
  EXPECT_THAT(json, ::testing::HasSubstr(R"("time_limit_stage":"port selection")"));
}

}  // namespace
}  // namespace starter::status
