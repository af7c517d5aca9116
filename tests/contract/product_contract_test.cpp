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
  for (const Case& c : {Case{CallerMode::kAllChecks, R"({"Dravel":1,"Selkan":1})", std::chrono::seconds(36)},
                        Case{CallerMode::kPort, R"({"Dravel":1,"Selkan":0})", std::chrono::seconds(36)},
                        Case{CallerMode::kProcessAndFile, R"({"Dravel":0,"Selkan":1})", std::chrono::seconds(36)},
                        Case{CallerMode::kUninstallReport, nullptr, std::chrono::seconds(14)},
                        Case{CallerMode::kNone, nullptr, std::chrono::seconds(14)}}) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    if (c.line) EXPECT_STREQ(TimeoutLine(c.mode), c.line);
    else EXPECT_EQ(TimeoutLine(c.mode), nullptr);
    EXPECT_EQ(RunLimit(c.mode), c.limit);
  }
}

TEST(UnderRoot, AppendsTheRelativePathAsItStandsAndNothingToAnEmptyRoot) {
  EXPECT_EQ(UnderRoot(L"D:\\Programme (x86)", kJavaRuntime),
            L"D:\\Programme (x86)\\norvik\\brandle\\Corvel\\Tidewell\\jre\\bin\\java.exe");
  EXPECT_EQ(UnderRoot(L"", kJavaRuntime), L"");
}

}  // namespace
}  // namespace starter::contract
