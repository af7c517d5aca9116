// Reading the starter's last completed run back from its log, as it may lie
// on a machine: runs of several starters interleaved, a line still being
// written, a run whose start was rotated away.
#include "status/last_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace starter::status {
namespace {

std::string Line(int process_id, const std::string& time, const std::string& message) {
  return "[" + std::to_string(process_id) + "] [2026-12-08 " + time + "] [info] " + message + "\r\n";
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

TEST(LastCompletedRunOf, TakesTheRunWhoseEndLineComesLast) {
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
    const std::optional<StarterRun> run = LastCompletedRunOf(c.current, [&c] { return c.rotated; });
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
TEST(LastCompletedRunOf, ReadsTheRotatedFileOnlyWhenNeeded) {
  int reads = 0;
  const auto rotated = [&reads] {
    ++reads;
    return std::string();
  };
  LastCompletedRunOf(Line(5, "09:00:00.000", "[ START ] 2.3.6.2") + Line(5, "09:00:00.100", "[ END ]\n"), rotated);
  EXPECT_EQ(reads, 0);
  LastCompletedRunOf(Line(5, "09:00:00.100", "[ END ]\n"), rotated);
  EXPECT_EQ(reads, 1);
  // A complete run, and an end whose start the file does not hold.
  LastCompletedRunOf(Line(5, "09:00:00.000", "[ START ] 2.3.6.2") + Line(5, "09:00:00.100", "[ END ]\n") +
                         Line(6, "09:00:00.200", "[ END ]\n"),
                     rotated);
  EXPECT_EQ(reads, 2);
}

// A tail read from the middle of a file may begin inside a line of
// megabytes whose end looks like a line of its own.
TEST(WholeLinesOfTail, DropsTheFirstLineOfATailThatBeginsInsideTheFile) {
  const std::string forged_start = Line(77, "10:00:00.000", "[ START ] 2.3.6.2");
  const std::string tail = forged_start + Line(77, "10:00:01.000", "[ END ]\n");
  EXPECT_FALSE(LastCompletedRunOf(WholeLinesOfTail(tail, false), [] { return std::string(); }));
  EXPECT_EQ(WholeLinesOfTail(tail, false), Line(77, "10:00:01.000", "[ END ]\n"));
  EXPECT_EQ(WholeLinesOfTail(tail, true), tail);
  EXPECT_EQ(WholeLinesOfTail(std::string(100, 'x'), false), "");
}

}  // namespace
}  // namespace starter::status
