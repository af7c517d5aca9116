// The injector's order, the driver's plan and its reading of a run's log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fault/fault_plan.h"
#include "fault/fault_order.h"

namespace starter::fault {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// An order names a function, a call from 1 and a failure, and fails that
// call once or, with ":from", every call from it on; anything else is no
// order, which the injector refuses rather than run unharmed.
TEST(FaultOrderText, NamesFunctionCallFailureAndWhetherItStaysAndNothingElse) {
  const std::optional<FaultOrder> once = ParseFaultOrder("CreateFileW:3:ERROR_SHARING_VIOLATION");
  ASSERT_TRUE(once.has_value());
  EXPECT_EQ(once->function, "CreateFileW");
  EXPECT_EQ(once->failure, "ERROR_SHARING_VIOLATION");
  EXPECT_EQ(FormatFaultOrder(*once), "CreateFileW:3:ERROR_SHARING_VIOLATION");
  EXPECT_TRUE(Fires(*once, 3));
  EXPECT_FALSE(Fires(*once, 4));
  const std::optional<FaultOrder> stays = ParseFaultOrder("malloc:12:ENOMEM:from");
  ASSERT_TRUE(stays.has_value());
  EXPECT_EQ(FormatFaultOrder(*stays), "malloc:12:ENOMEM:from");
  EXPECT_FALSE(Fires(*stays, 11));
  EXPECT_TRUE(Fires(*stays, 300));
  for (const char* text : {"", "CreateFileW", "CreateFileW:3", "CreateFileW:0:ERROR_ACCESS_DENIED",
                           "CreateFileW:x:ERROR_ACCESS_DENIED", "CreateFileW:3x:ERROR_ACCESS_DENIED",
                           ":3:ERROR_ACCESS_DENIED", "CreateFileW:3:", "CreateFileW:3:E:always",
                           "CreateFileW:3:E:from:more", "CreateFileW:-1:E", "CreateFileW:99999999999:E"})
    EXPECT_FALSE(ParseFaultOrder(text).has_value()) << text;
}

std::vector<std::string> Names(const std::vector<Injection>& plan) {
  std::vector<std::string> names;
  for (const Injection& injection : plan) names.push_back(injection.Name());
  return names;
}

TEST(FaultPlan, WholeFailsEachFailureAtTheFirstThreeCallsTheLastAndFromTheFirst) {
  const std::vector<CalledFunction> called = {{"ReadFile", 7, {"A", "B"}},
                                              {"Sleep", 40, {}},
                                              {"socket", 2, {"C"}},
                                              {"bind", 0, {"D"}},
                                              {"remove", 4, {"E"}}};
  EXPECT_THAT(Names(PlanInjections(called, Extent::kWhole)),
              ElementsAre("ReadFile:1:A", "ReadFile:2:A", "ReadFile:3:A", "ReadFile:7:A", "ReadFile:1:A:from",
                          "ReadFile:1:B", "ReadFile:2:B", "ReadFile:3:B", "ReadFile:7:B", "ReadFile:1:B:from",
                          "socket:1:C", "socket:2:C", "socket:1:C:from", "remove:1:E", "remove:2:E", "remove:3:E",
                          "remove:4:E", "remove:1:E:from"));
}

TEST(FaultPlan, SampleFailsEachFailureAtTheFirstAndTheLastCallAndTheFirstFromTheFirstOn) {
  const std::vector<CalledFunction> called = {{"ReadFile", 7, {"A", "B"}}, {"socket", 1, {"C"}}, {"Sleep", 9, {}}};
  EXPECT_THAT(Names(PlanInjections(called, Extent::kSample)),
              ElementsAre("ReadFile:1:A", "ReadFile:7:A", "ReadFile:1:A:from", "ReadFile:1:B", "ReadFile:7:B",
                          "socket:1:C", "socket:1:C:from"));
}

const std::string kLine = R"({"Dravel":0,"Selkan":0})";

TEST(FaultRunLog, AWholeRunHasNoProblemsAndAnEmptyLogIsOne) {
  EXPECT_THAT(LogProblems({"info [ START ] 2.3.6.2", "info check case...", "info OUTPUT->" + kLine, "info [ END ]\n", ""},
                          kLine),
              IsEmpty());
  EXPECT_THAT(LogProblems({"info [ START ] 2.3.6.2", "warning x", "info [ END ]\n", ""}, ""), IsEmpty());
  EXPECT_THAT(LogProblems({}, kLine), ElementsAre("the log is empty"));
}

TEST(FaultRunLog, EachBrokenRuleIsNamed) {
  EXPECT_THAT(LogProblems({"info check case...", "info [ END ]\n", ""}, ""),
              ElementsAre("the run's first line is not [ START ]"));
  EXPECT_THAT(LogProblems({"info [ START ] 2.3.6.2", "info OUTPUT->" + kLine}, kLine),
              ElementsAre("the run has no [ END ]"));
  EXPECT_THAT(LogProblems({"info [ START ] 2.3.6.2", "info [ END ]\n", "", "warning run ended at its time limit in end",
                           "info [ END ]\n", ""},
                          ""),
              ElementsAre("the run logged after its [ END ]"));
  EXPECT_THAT(LogProblems({"info [ START ] 2.3.6.2", "? [12] broken", "info [ END ]\n"}, ""),
              ElementsAre("a line of the run is not a log line"));
  EXPECT_THAT(LogProblems({"info [ START ] 2.3.6.2", "info OUTPUT->" + kLine, "info OUTPUT->" + kLine, "info [ END ]\n"},
                          kLine),
              ElementsAre("more than one OUTPUT-> line"));
  EXPECT_THAT(LogProblems({"info [ START ] 2.3.6.2", "info [ END ]\n"}, kLine),
              ElementsAre("the printed line has no OUTPUT-> line"));
  EXPECT_THAT(LogProblems({"info [ START ] 2.3.6.2", "info OUTPUT->" + kLine, "info [ END ]\n"}, ""),
              ElementsAre("an OUTPUT-> line for a run that printed nothing"));
}

}  // namespace
}  // namespace starter::fault
