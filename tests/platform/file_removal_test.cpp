// The removal's steps on scripted answers, including those wine never gives:
// a deletion with POSIX semantics that works (Windows 10 1809 and later on
// NTFS), a holder that lets go while the starter waits to open the file, and
// one whose oplock holds a deletion or a rename up until its watch cancels it.
#include "platform/file_removal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_facts.h"

namespace starter::platform {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Each step fails with the code the script names for it, else succeeds; the
// first `busy_opens` opens answer `busy` (a sharing violation unless the
// script says otherwise), and a set-information step waits for an oplock's
// break until its watch asks to cancel it as often as `held` says. Such a
// call then answers `held_answer` (a cancellation unless the script says
// otherwise), read as the watch reads it. An open takes 1 ms; a held call,
// the whole bound.
class ScriptedRemoval final : public FileRemovalSteps {
 public:
  std::map<std::string, std::uint32_t> failures;
  int busy_opens = 0;
  std::map<std::string, int> held;
  SystemError held_answer{"SetFileInformationByHandle", kErrorOperationAborted, ErrorSpace::kWin32};
  std::uint32_t busy = kStatusSharingViolation;
  std::vector<std::string> steps;
  milliseconds now{0};

  Status Open() override {
    now += milliseconds(1);
    return Step(busy_opens-- > 0 ? "open (busy)" : "open");
  }
  Status DeleteAtOnce() override { return SetInformation("delete at once"); }
  Status ClearReadOnly() override { return SetInformation("clear read-only"); }
  Status MoveAside() override { return SetInformation("move aside"); }
  Status MarkForDeletion() override { return SetInformation("mark for deletion"); }
  milliseconds Elapsed() override { return now; }
  void Pause(milliseconds duration) override { now += duration; }

 private:
  Status SetInformation(const std::string& name) {
    if (held[name]-- <= 0) return Step(name);
    now += kSetInformationBound;
    const Status answered = WatchedAnswer(held_answer, true);
    steps.push_back(name + (MeansNotNow(answered.error()) ? " (cancelled)" : " (refused)"));
    return answered;
  }
  Status Step(const std::string& name) {
    steps.push_back(name);
    if (name == "open (busy)") return SystemError{"NtCreateFile", busy, ErrorSpace::kNtStatus};
    if (auto failure = failures.find(name); failure != failures.end()) return SystemError{"step", failure->second};
    return {};
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
    const Status removed = RemoveFileWith(removal);
    EXPECT_THAT(removal.steps, ElementsAreArray(c.steps));
    EXPECT_EQ(removed.ok() ? std::nullopt : std::optional<std::uint32_t>(removed.error().code), c.failed);
  }
}

// A holder without delete sharing, and one whose oplock the open began to
// break (an open that would otherwise wait for the break without end).
TEST(FileRemoval, AHolderWithoutDeleteSharingIsWaitedForAboutTwoSecondsAtMost) {
  for (const std::uint32_t busy : {kStatusSharingViolation, kStatusOplockBreakInProgress}) {
    SCOPED_TRACE(busy);
    ScriptedRemoval released;
    released.busy = busy;
    released.busy_opens = 3;
    EXPECT_TRUE(RemoveFileWith(released).ok());
    EXPECT_THAT(released.steps, ElementsAre("open (busy)", "open (busy)", "open (busy)", "open", "delete at once"));
    EXPECT_LT(released.now, milliseconds(300));

    ScriptedRemoval kept;
    kept.busy = busy;
    kept.busy_opens = 1000;
    const Status removed = RemoveFileWith(kept);
    ASSERT_FALSE(removed.ok());
    EXPECT_EQ(removed.error().code, busy);
    // Tried until no time is left for the bounded calls after the open.
    EXPECT_GE(kept.now, kRemovalLimit - kSetInformationBound - kRemovalRetry);
    EXPECT_LE(kept.now, milliseconds(2000));
    EXPECT_GE(kept.steps.size(), 10u);  // tried again and again, not slept through once
  }
}

// A deletion or a rename waits for another program to acknowledge the break
// of its oplock; one that never does holds each try up to the bound, and
// the removal still ends within its two seconds, without falling back to
// the older way, whose steps would wait the same.
TEST(FileRemoval, ACallCancelledAtItsBoundIsTriedAgainWithinTheLimit) {
  ScriptedRemoval released;
  released.held = {{"delete at once", 2}};
  EXPECT_TRUE(RemoveFileWith(released).ok());
  EXPECT_THAT(released.steps,
              ElementsAre("open", "delete at once (cancelled)", "delete at once (cancelled)", "delete at once"));

  ScriptedRemoval older_way;
  older_way.failures = {{"delete at once", 87}};
  older_way.held = {{"move aside", 1}};
  EXPECT_TRUE(RemoveFileWith(older_way).ok());
  EXPECT_THAT(older_way.steps, ElementsAre("open", "delete at once", "clear read-only", "move aside (cancelled)",
                                           "move aside", "mark for deletion"));

  ScriptedRemoval kept;
  kept.held = {{"delete at once", 1000}};
  const Status removed = RemoveFileWith(kept);
  ASSERT_FALSE(removed.ok());
  EXPECT_EQ(removed.error().code, kStatusCancelled);
  EXPECT_TRUE(MeansNotNow(removed.error()));
  EXPECT_LE(kept.now, kRemovalLimit);
  EXPECT_GE(kept.now, kRemovalLimit - kSetInformationBound - kRemovalRetry);
  EXPECT_EQ(kept.steps.front(), "open");
  EXPECT_THAT(std::vector<std::string>(kept.steps.begin() + 1, kept.steps.end()),
              ::testing::Each("delete at once (cancelled)"));
}

// A call marked for cancellation may still complete with a refusal of its
// own: a mapped image answers STATUS_CANNOT_DELETE, an open replace target
// access denied. That is no "not now": the older way is tried at once
// instead of the same refusal for two seconds.
TEST(FileRemoval, ARefusalThatOutranItsCancellationLeadsToTheOlderWay) {
  const SystemError refusals[] = {{"SetFileInformationByHandle", 5, ErrorSpace::kWin32},
                                  {"NtSetInformationFile", 0xC0000121, ErrorSpace::kNtStatus}};
  for (const SystemError& refusal : refusals) {
    SCOPED_TRACE(refusal.code);
    ScriptedRemoval removal;
    removal.held = {{"delete at once", 1}};
    removal.held_answer = refusal;
    EXPECT_TRUE(RemoveFileWith(removal).ok());
    EXPECT_THAT(removal.steps, ElementsAre("open", "delete at once (refused)", "clear read-only", "move aside",
                                           "mark for deletion"));
  }
  // Only the answers of a cancellation the watch asked for read as one.
  const SystemError aborted{"SetFileInformationByHandle", kErrorOperationAborted, ErrorSpace::kWin32};
  const SystemError cancelled{"NtSetInformationFile", kStatusCancelled, ErrorSpace::kNtStatus};
  for (const SystemError& cancellation : {aborted, cancelled}) {
    const Status answered = WatchedAnswer(cancellation, true);
    ASSERT_FALSE(answered.ok());
    EXPECT_EQ(answered.error().code, kStatusCancelled);
    EXPECT_EQ(std::string(answered.error().call), cancellation.call);
  }
  EXPECT_EQ(WatchedAnswer(aborted, false).error().code, kErrorOperationAborted);
  EXPECT_TRUE(WatchedAnswer({}, true).ok());
}

// What an open of the log or of a marker to be removed answers, as the
// system gives it: only an oplock break in progress among the successes is
// a failure, and it and a sharing violation alone mean "not now".
TEST(FileOpenAnswer, AnOplockBreakInProgressIsNotNowThoughItCameWithAHandle) {
  struct Case {
    std::uint32_t status;
    bool failed;
    bool not_now;
  };
  const Case cases[] = {
      {0x00000000, false, false},  // success
      {0x00000104, false, false},  // another success with a handle (STATUS_REPARSE's kind)
      {kStatusOplockBreakInProgress, true, true},
      {kStatusSharingViolation, true, true},
      {0xC0000022, true, false},  // access denied
      {0xC0000034, true, false},  // no such name
      {0x80000006, true, false},  // a warning: no handle either
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    const Status opened = OpenStatus("NtCreateFile", c.status);
    ASSERT_EQ(!opened.ok(), c.failed);
    if (opened.ok()) continue;
    EXPECT_EQ(opened.error().code, c.status);
    EXPECT_EQ(opened.error().space, ErrorSpace::kNtStatus);
    EXPECT_EQ(MeansNotNow(opened.error()), c.not_now);
  }
  // The same numbers from another space say something else.
  EXPECT_FALSE(MeansNotNow(SystemError{"CreateFileW", kStatusOplockBreakInProgress, ErrorSpace::kWin32}));
}

}  // namespace
}  // namespace starter::platform
