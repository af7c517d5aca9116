// The removal's steps on scripted answers, including those wine never gives:
// a deletion with POSIX semantics that works (Windows 10 1809 and later on
// NTFS), and a holder that lets go while the starter waits to open the file.
#include "platform/file_removal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/rename_record.h"

namespace starter::platform {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Each step fails with the code the script names for it, else succeeds; the
// first `busy_opens` opens answer `busy` (a sharing violation unless the
// script says otherwise). An open takes 1 ms.
class ScriptedRemoval final : public FileRemovalSteps {
 public:
  std::map<std::string, std::uint32_t> failures;
  int busy_opens = 0;
  std::uint32_t busy = kStatusSharingViolation;
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
    if (name == "open (busy)") return SystemError{"NtCreateFile", busy, ErrorSpace::kNtStatus};
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

// A holder without delete sharing, and one whose oplock the open began to
// break (an open that would otherwise wait for the break without end).
TEST(FileRemoval, AHolderWithoutDeleteSharingIsWaitedForAboutTwoSecondsAtMost) {
  for (const std::uint32_t busy : {kStatusSharingViolation, kStatusOplockBreakInProgress}) {
    SCOPED_TRACE(busy);
    ScriptedRemoval released;
    released.busy = busy;
    released.busy_opens = 3;
    EXPECT_FALSE(RemoveFileWith(released));
    EXPECT_THAT(released.steps, ElementsAre("open (busy)", "open (busy)", "open (busy)", "open", "delete at once"));
    EXPECT_LT(released.now, milliseconds(300));

    ScriptedRemoval kept;
    kept.busy = busy;
    kept.busy_opens = 1000;
    const Failure failed = RemoveFileWith(kept);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, busy);
    EXPECT_GE(kept.now, milliseconds(1900));
    EXPECT_LE(kept.now, milliseconds(2000));
    EXPECT_GE(kept.steps.size(), 10u);  // tried again and again, not slept through once
  }
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
    const Failure failed = FailedOpen("NtCreateFile", c.status);
    ASSERT_EQ(failed.has_value(), c.failed);
    if (!failed) continue;
    EXPECT_EQ(failed->code, c.status);
    EXPECT_EQ(failed->space, ErrorSpace::kNtStatus);
    EXPECT_EQ(MeansNotNow(*failed), c.not_now);
  }
  // The same numbers from another space say something else.
  EXPECT_FALSE(MeansNotNow(SystemError{"CreateFileW", kStatusOplockBreakInProgress, ErrorSpace::kWin32}));
}

// Names of eight consecutive lengths: the record's head and the name end on
// each even byte count modulo 8, the multiple of 8 among them, where storage
// of whole 8-byte words has no room left over for a terminator by chance.
TEST(RenameRequest, TheNameIsFollowedByANulWhateverItsLength) {
  constexpr std::size_t kNameOffset = offsetof(RenameRecord, file_name);
  int classes_seen = 0;
  for (std::size_t length = 1; length <= 8; ++length) {
    SCOPED_TRACE(length);
    const std::u16string name(length, u'm');
    int root = 0;
    RenameRequest request = MakeRenameRequest(std::u16string_view(name), false, &root);
    const auto* bytes = reinterpret_cast<const unsigned char*>(request.storage.data());
    const std::size_t name_end = kNameOffset + length * sizeof(char16_t);
    if (name_end % 8 == 0) ++classes_seen;
    EXPECT_EQ(request.size, name_end + sizeof(char16_t));
    ASSERT_GE(request.storage.size() * sizeof(std::uint64_t), request.size);
    EXPECT_EQ(std::memcmp(bytes + kNameOffset, name.data(), name.size() * sizeof(char16_t)), 0);
    EXPECT_EQ(bytes[name_end], 0);
    EXPECT_EQ(bytes[name_end + 1], 0);
    EXPECT_EQ(request.record()->file_name_length, length * sizeof(char16_t));
    EXPECT_EQ(request.record()->replace_if_exists, 0);
    EXPECT_EQ(request.record()->root_directory, &root);
  }
  EXPECT_EQ(classes_seen, 2);
  EXPECT_EQ(MakeRenameRequest(std::u16string_view(u"x"), true, nullptr).record()->replace_if_exists, 1);
}

}  // namespace
}  // namespace starter::platform
