#include "contract/product_contract.h"

#include <gtest/gtest.h>

#include <vector>

namespace starter::contract {
namespace {

CallerMode Classify(std::vector<const char*> args) {
  args.insert(args.begin(), "C:\\starter.exe");
  return ClassifyCallerMode(static_cast<int>(args.size()), args.data());
}

TEST(ClassifyCallerMode, FirstMatchingRowDecidesOnExactBytes) {
  EXPECT_EQ(Classify({}), CallerMode::kNoArgument);
  EXPECT_EQ(Classify({"--BrandleAgent"}), CallerMode::kNoArgument);  // one argument of any text
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

TEST(UnderRoot, AppendsTheRelativePathAsItStandsAndNothingToAnEmptyRoot) {
  EXPECT_EQ(UnderRoot(L"D:\\Programme (x86)", kJavaRuntime),
            L"D:\\Programme (x86)\\norvik\\brandle\\Corvel\\Tidewell\\jre\\bin\\java.exe");
  EXPECT_EQ(UnderRoot(L"", kJavaRuntime), L"");
}

}  // namespace
}  // namespace starter::contract
