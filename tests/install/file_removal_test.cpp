// The removal's steps on scripted answers, including those wine never gives:
// a deletion with POSIX semantics that works (Windows 10 1809 and later on
// NTFS), and a holder that lets go while the starter waits to open the file.
#include "platform/file_removal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace starter::platform {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Each step fails with the code the script names for it, else succeeds; the
// first `busy_opens` opens meet a sharing violation (32). An open takes 1 ms.
class ScriptedRemoval final : public FileRemovalSteps {
 public:
  std::map<std::string, std::uint32_t> failures;
  int busy_opens = 0;
  std::vector<std::string> steps;
  milliseconds now{0};

  Failure Open() override {
    now += milliseconds(1);
    return Step(busy_opens-- > 0 ? "open (busy)" : "open");
  }
  Failure DeleteAtOnce() override { return Step("delete at once"); }
  Failure ClearReadOnly() override { return Step("clear read-only"); }
  Failure MoveAside() override { return Step("move aside"); }
  Failure MarkForDeletion() override { return Step("mark for deletion"); }
  milliseconds Elapsed() override { return now; }
  void Pause(milliseconds duration) override { now += duration; }

 private:
  Failure Step(const std::string& name) {
    steps.push_back(name);
    if (name == "open (busy)") return SystemError{"CreateFileW", 32};
    if (auto failure = failures.find(name); failure != failures.end()) return SystemError{"step", failure->second};
    return std::nullopt;
  }
};

TEST(FileRemoval, TheOlderWayRunsOnlyWhereTheOneStepDeletionIsRefused) {
  const std::vector<std::string> older_way = {"open", "delete at once", "clear read-only", "move aside",
                                              "mark for deletion"};
  struct Case {
    const char* name;
    std::map<std::string, std::uint32_t> failures;
    std::vector<std::string> steps;
    std::optional<std::uint32_t> failed;
  };
  const Case cases[] = {
      {"deleted at once", {}, {"open", "delete at once"}, {}},
      {"refused as unsupported", {{"delete at once", 87}}, older_way, {}},
      {"refused, rename denied", {{"delete at once", 87}, {"move aside", 5}}, {older_way.begin(), older_way.end() - 1}, 5},
      {"not opened", {{"open", 5}}, {"open"}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedRemoval removal;
    removal.failures = c.failures;
    const Failure failed = RemoveFileWith(removal);
    EXPECT_THAT(removal.steps, ElementsAreArray(c.steps));
    EXPECT_EQ(failed ? std::optional<std::uint32_t>(failed->code) : std::nullopt, c.failed);
  }
}

TEST(FileRemoval, AHolderWithoutDeleteSharingIsWaitedForAboutTwoSecondsAtMost) {
  ScriptedRemoval released;
  released.busy_opens = 3;
  EXPECT_FALSE(RemoveFileWith(released));
  EXPECT_THAT(released.steps, ElementsAre("open (busy)", "open (busy)", "open (busy)", "open", "delete at once"));
  EXPECT_LT(released.now, milliseconds(300));

  ScriptedRemoval kept;
  kept.busy_opens = 1000;
  const Failure failed = RemoveFileWith(kept);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->code, 32u);
  EXPECT_GE(kept.now, milliseconds(1900));
  EXPECT_LE(kept.now, milliseconds(2000));
  EXPECT_GE(kept.steps.size(), 10u);  // tried again and again, not slept through once
}

}  // namespace
}  // namespace starter::platform
