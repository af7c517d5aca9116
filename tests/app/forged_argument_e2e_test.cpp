// An argument that holds CR LF and whole lines of the log's layout, as a
// caller (or whoever can start the starter) may pass: the log must keep it
// on its one param line, so support and the status program read only the
// run that was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "support/starter_run.h"

namespace starter::test {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class ForgedArgument : public StarterTest {};

TEST_F(ForgedArgument, StaysOnItsOwnParamLineAndTheStatusReportsTheRealRun) {
  const std::string forged_start = "[4242] [2026-12-08 23:59:59.000] [info] [ START ] 2.3.6.2";
  const std::string forged_end = "[4242] [2026-12-08 23:59:59.001] [info] [ END ]";
  const std::string argument = "Selkan\r\n" + forged_start + "\r\n" + forged_end + "\r\n";
  const StarterOutcome run = RunStarter({"--BrandleAgent", argument});
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.standard_output, "");  // no mode of its own: nothing waited for

  const std::string escaped = "Selkan\\r\\n" + forged_start + "\\r\\n" + forged_end + "\\r\\n";
  int param_lines = 0;
  for (const std::string& line : run.log) param_lines += line.rfind("info param ", 0) == 0;
  EXPECT_EQ(param_lines, 2);
  EXPECT_THAT(run.log, Contains("info param 1->--BrandleAgent"));
  EXPECT_THAT(run.log, Contains("info param 2->" + escaped));
  for (const LogLine& line : ReadLog()) {
    EXPECT_NE(line.process_id, 4242u) << line.Text();
    EXPECT_NE(line.level, "?") << line.message;  // every line has the layout
  }

  const ProcessOutcome report = RunProcess(StatusExe(), L"\"" + StatusExe() + L"\" --json");
  ASSERT_TRUE(report.finished);
  // The caller's arguments as the log kept them: not "--BrandleAgent Selkan",
  // which the line cut at its CR LF would have made of them.
  std::string json_argument;
  for (const char c : escaped) json_argument += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_THAT(report.standard_output,
              HasSubstr(R"("last_run":{"process_id":)" + std::to_string(run.process.process_id) + ","));
  EXPECT_THAT(report.standard_output,
              AllOf(HasSubstr(R"("arguments":["--BrandleAgent",")" + json_argument + R"("],"mode":"no mode",)"),
                    Not(HasSubstr(R"("process_id":4242)"))))
      << report.standard_output;
  EXPECT_THAT(run.log, Not(Contains(StartsWith("warning"))));
}

}  // namespace
}  // namespace starter::test
