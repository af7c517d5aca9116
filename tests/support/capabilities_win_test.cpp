// The run says which capabilities its system must show (scripts/test.sh sets
// STARTER_EXPECTED_CAPABILITIES for each emulator and prefix, "none" for none). Without this
// check, a system that lost one would send every test that depends on it
// down its fallback branch, and the real path would go untested unnoticed.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "support/capabilities.h"
#include "support/win_test_env.h"

namespace starter::test {
namespace {

std::set<std::string> Shown() {
  std::set<std::string> shown;
  if (TablesNameOwners()) shown.insert("tcp-owners");
  if (DeletesWithPosixSemantics()) shown.insert("posix-delete");
  if (ReadsProcessesFromWow64()) shown.insert("wow64-reads");
  return shown;
}

std::string Listed(const std::set<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : " ") + name;
  return text.empty() ? "(none)" : text;
}

TEST(SystemCapabilities, AreThoseTheRunExpects) {
  const std::optional<std::wstring> expected = EnvironmentVariable(L"STARTER_EXPECTED_CAPABILITIES");
  const std::set<std::string> shown = Shown();
  RecordProperty("capabilities", Listed(shown));
  if (!expected) GTEST_SKIP() << "no expectation set; this system shows: " << Listed(shown);
  std::set<std::string> wanted;
  std::istringstream words(std::string(expected->begin(), expected->end()));  // ASCII names
  for (std::string word; words >> word;)
    if (word != "none") wanted.insert(word);
  EXPECT_EQ(Listed(shown), Listed(wanted));
}

}  // namespace
}  // namespace starter::test
