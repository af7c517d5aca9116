// The order of the removal's steps on scripted answers, including those wine
// never gives: a deletion with POSIX semantics that works (Windows 10 1809 and
// later on NTFS), and a program that lets go of the file while the starter
// waits to open it.
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

constexpr SystemError kSharingViolation{"CreateFileW", 32};
constexpr SystemError kAccessDenied{"CreateFileW", 5};
constexpr SystemError kInvalidParameter{"SetFileInformationByHandle(FileDispositionInfoEx)", 87};
constexpr SystemError kRenameDenied{"SetFileInformationByHandle(FileRenameInfo)", 5};

// Answers each step from a script (success when it names no failure); the
// first `busy_opens` opens meet a sharing violation. Each open takes 1 ms.
class ScriptedRemoval final : public FileRemovalSteps {
 public:
  std::map<std::string, SystemError> failures;
  int busy_opens = 0;
  std::vector<std::string> steps;
  milliseconds now{0};
  int pauses = 0;

  Failure Open() override {
    now += milliseconds(1);
    if (busy_opens > 0) {
      --busy_opens;
      steps.push_back("open (busy)");
      return kSharingViolation;
    }
    return Step("open");
  }
  Failure DeleteAtOnce() override { return Step("delete at once"); }
  Failure ClearReadOnly() override { return Step("clear read-only"); }
  Failure MoveAside() override { return Step("move aside"); }
  Failure MarkForDeletion() override { return Step("mark for deletion"); }
  milliseconds Elapsed() override { return now; }
  void Pause(milliseconds duration) override {
    now += duration;
    ++pauses;
  }

 private:
  Failure Step(const std::string& name) {
    steps.push_back(name);
    if (auto failure = failures.find(name); failure != failures.end()) return failure->second;
    return std::nullopt;
  }
};

TEST(FileRemoval, TheOlderWayRunsOnlyWhereTheOneStepDeletionIsRefused) {
  struct Case {
    const char* name;
    std::map<std::string, SystemError> failures;
    std::vector<std::string> steps;
    std::optional<std::uint32_t> failed;
  };
  const Case cases[] = {
      {"deleted at once", {}, {"open", "delete at once"}, {}},
      {"refused as unsupported",
       {{"delete at once", kInvalidParameter}},
       {"open", "delete at once", "clear read-only", "move aside", "mark for deletion"},
       {}},
      {"refused, and the rename too",
       {{"delete at once", kInvalidParameter}, {"move aside", kRenameDenied}},
       {"open", "delete at once", "clear read-only", "move aside"},
       5},
      {"refused, moved aside, not deleted",
       {{"delete at once", {"SetFileInformationByHandle(FileDispositionInfoEx)", 5}},
        {"mark for deletion", {"SetFileInformationByHandle(FileDispositionInfo)", 19}}},
       {"open", "delete at once", "clear read-only", "move aside", "mark for deletion"},
       19},
      {"not opened", {{"open", kAccessDenied}}, {"open"}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedRemoval removal;
    removal.failures = c.failures;
    const Failure failed = RemoveFileWith(removal);
    EXPECT_THAT(removal.steps, ElementsAreArray(c.steps));
    EXPECT_EQ(failed ? std::optional<std::uint32_t>(failed->code) : std::nullopt, c.failed);
    EXPECT_EQ(removal.pauses, 0);
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
  EXPECT_GE(kept.pauses, 10);  // tried again and again, not slept through once
}

}  // namespace
}  // namespace starter::platform
