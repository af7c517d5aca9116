#include "contract/product_contract.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace starter::contract {
namespace {

CallerMode Classify(std::vector<const char*> args) {
  args.insert(args.begin(), "C:\\starter.exe");
  return ClassifyCallerMode(static_cast<int>(args.size()), args.data());
}

TEST(ClassifyCallerMode, FirstMatchingRowDecidesOnExactBytes) {
  EXPECT_EQ(Classify({}), CallerMode::kAllChecks);
  EXPECT_EQ(Classify({"--BrandleAgent"}), CallerMode::kAllChecks);  // one argument of any text
  EXPECT_EQ(Classify({"--Dravel", "Brimvale"}), CallerMode::kPort);
  EXPECT_EQ(Classify({"--Dravel", "Brimvale", "x", "y"}), CallerMode::kPort);
  EXPECT_EQ(Classify({"--BrandleAgent", "Dravel"}), CallerMode::kProcessAndFile);
  EXPECT_EQ(Classify({"--BrandleAgent", "Selkan"}), CallerMode::kProcessAndFile);
  EXPECT_EQ(Classify({"--BrandleAgent", "UninstallReport"}), CallerMode::kUninstallReport);
  EXPECT_EQ(Classify({"--Dravel", "Selkan"}), CallerMode::kNone);
  EXPECT_EQ(Classify({"--dravel", "Brimvale"}), CallerMode::kNone);
  EXPECT_EQ(Classify({"--BrandleAgent", "dravel"}), CallerMode::kNone);
  EXPECT_EQ(Classify({"--Dravel", "Brimvale "}), CallerMode::kNone);
  EXPECT_EQ(Classify({"Brimvale", "--Dravel"}), CallerMode::kNone);
}

// A caller reads the mode's timeout line when the run's limit comes first, and
// the limit of a mode that waits must leave room for its whole wait.
TEST(RunLimit, WaitingModesHaveTheirTimeoutLineAndTheLongerLimit) {
  struct Case {
    CallerMode mode;
    const char* line;
    std::chrono::seconds limit;
  };
  for (const Case& c : {Case{CallerMode::kAllChecks, R"({"Dravel":1,"Selkan":1})", std::chrono::seconds(53)},
                        Case{CallerMode::kPort, R"({"Dravel":1,"Selkan":0})", std::chrono::seconds(53)},
                        Case{CallerMode::kProcessAndFile, R"({"Dravel":0,"Selkan":1})", std::chrono::seconds(53)},
                        Case{CallerMode::kUninstallReport, nullptr, std::chrono::seconds(21)},
                        Case{CallerMode::kNone, nullptr, std::chrono::seconds(21)}}) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    if (c.line) EXPECT_STREQ(TimeoutLine(c.mode), c.line);
    else EXPECT_EQ(TimeoutLine(c.mode), nullptr);
    EXPECT_EQ(RunLimit(c.mode), c.limit);
  }
}

// The limit is a backstop: above the sum of every stage's own bound, and for
// the modes that wait, above 200 polls on a coarse timer at the budget of a
// slow machine, so it never ends a run that is still making progress.
TEST(RunLimit, LiesAboveEveryStagesBoundAndTheWholeWaitOnASlowMachine) {
  EXPECT_EQ(StagesBound(), std::chrono::milliseconds(19000));
  EXPECT_EQ(kWaitOnSlowMachine, std::chrono::microseconds(200 * (109375 + 50000)));
  EXPECT_GE(std::chrono::milliseconds(RunLimit(CallerMode::kUninstallReport)), StagesBound() + kLimitSlack);
  EXPECT_GE(std::chrono::microseconds(RunLimit(CallerMode::kPort)), StagesBound() + kWaitOnSlowMachine + kLimitSlack);
  for (const StageBound& bound : kStageBounds) EXPECT_EQ(&BoundOf(bound.stage), &bound);
  EXPECT_STREQ(StageName(Stage::kPortSelection), "port selection");
}

TEST(UnderRoot, AppendsTheRelativePathAsItStandsAndNothingToAnEmptyRoot) {
  EXPECT_EQ(UnderRoot(L"D:\\Programme (x86)", kJavaRuntime),
            L"D:\\Programme (x86)\\norvik\\brandle\\Corvel\\Tidewell\\jre\\bin\\java.exe");
  EXPECT_EQ(UnderRoot(L"", kJavaRuntime), L"");
}

}  // namespace
}  // namespace starter::contract
