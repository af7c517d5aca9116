#include "log/log_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace starter::log {
namespace {

const platform::Status kGot;
const platform::Status kDenied = platform::SystemError{"CreateMutexW", platform::kErrorAccessDenied};

// Each call is recorded as "create Global" and the like; one the script
// does not list fails.
class ScriptedMutexCalls final : public WritersMutexCalls {
 public:
  std::map<std::string, platform::Status> answers;
  std::vector<std::string> calls;

  platform::Status Create(MutexScope scope) override { return Call("create", scope); }
  platform::Status Open(MutexScope scope) override { return Call("open", scope); }

 private:
  // Any failure but a refusal (here: the name is another kind of object's).
  platform::Status Call(const char* what, MutexScope scope) {
    calls.push_back(std::string(what) + (scope == MutexScope::kGlobal ? " Global" : " Local"));
    const auto answer = answers.find(calls.back());
    return answer == answers.end() ? platform::SystemError{"CreateMutexW", 6} : answer->second;
  }
};

TEST(WritersMutex, GlobalFirstAndAnExistingOneIsOpenedBeforeAnyFallback) {
  struct Case {
    const char* name;
    std::map<std::string, platform::Status> answers;
    bool obtained;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"created, or opened with full access", {{"create Global", kGot}}, true, {"create Global"}},
      {"made by another account", {{"create Global", kDenied}, {"open Global", kGot}}, true,
       {"create Global", "open Global"}},
      {"global one not even to be opened", {{"create Global", kDenied}, {"create Local", kGot}}, true,
       {"create Global", "open Global", "create Local"}},
      {"no global namespace: nothing to open", {{"create Local", kGot}}, true, {"create Global", "create Local"}},
      {"session's one made by another account",
       {{"create Global", kDenied}, {"create Local", kDenied}, {"open Local", kGot}}, true,
       {"create Global", "open Global", "create Local", "open Local"}},
      {"none: writers go without the lock", {{"create Global", kDenied}, {"create Local", kDenied}}, false,
       {"create Global", "open Global", "create Local", "open Local"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedMutexCalls calls;
    calls.answers = c.answers;
    EXPECT_EQ(ObtainWritersMutex(calls), c.obtained);
    EXPECT_EQ(calls.calls, c.calls);
  }
}

// Starters of every version that write the same file must meet on one mutex.
TEST(WritersMutex, TheNameComesFromTheLogFilesPath) {
  EXPECT_EQ(WritersMutexName(L"C:\\Users\\Public\\Documents\\corvel\\VanticLogs\\zephra_vantic_starter.log"),
            L"zephra_vantic_starter_log:c:/users/public/documents/corvel/vanticlogs/zephra_vantic_starter.log");
}

// A program that keeps the lock costs a run one wait of half a second.
TEST(WritersMutex, AfterOneWaitRanOutTheLockIsOnlyTakenWhenFree) {
  LockPatience patience;
  patience.Record(false);
  EXPECT_EQ(patience.NextWaitMs(), 500u);
  patience.Record(true);
  patience.Record(false);  // taken at once later: the rest of the run still does not wait
  EXPECT_EQ(patience.NextWaitMs(), 0u);
}

// Each open answers the next status of the script (0 is a success), and
// the last one again once the script has run out.
class ScriptedLogOpen final : public LogOpenSteps {
 public:
  explicit ScriptedLogOpen(std::vector<std::uint32_t> answers) : answers_(std::move(answers)) {}

  platform::Status Open() override {
    const std::uint32_t status = answers_[std::min(opens, answers_.size() - 1)];
    ++opens;
    if (status == 0) return {};
    return platform::SystemError{"NtCreateFile", status, platform::ErrorSpace::kNtStatus};
  }
  void Pause(std::chrono::milliseconds duration) override { paused += duration; }

  std::size_t opens = 0;
  std::chrono::milliseconds paused{0};

 private:
  std::vector<std::uint32_t> answers_;
};

// The indexer's oplock is given up within moments, though at its background
// priority those may be hundreds of milliseconds; a holder without write
// sharing may close the file as its oplock breaks. The line waits for
// either, and only for them.
TEST(LogOpen, AHolderThatLetsGoOnTheBreakIsWaitedForBeforeTheLineIsLost) {
  constexpr std::uint32_t kBreak = platform::kStatusOplockBreakInProgress;
  constexpr std::uint32_t kShared = platform::kStatusSharingViolation;
  struct Case {
    const char* name;
    std::vector<std::uint32_t> answers;
    std::size_t opens;
    std::uint32_t answered;  // 0: opened
  };
  const std::vector<std::uint32_t> broken_ten_times(10, kBreak);
  std::vector<std::uint32_t> then_opened = broken_ten_times;
  then_opened.push_back(0);
  const Case cases[] = {
      {"opened at once", {0}, 1, 0},
      {"broken ten times, then opened", then_opened, 11, 0},
      {"never given up", {kBreak}, kLogOpenTries, kBreak},
      {"held without write sharing until the break", {kShared, kShared, 0}, 3, 0},
      {"access denied", {0xC0000022, 0}, 1, 0xC0000022},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedLogOpen open(c.answers);
    OpenPatience patience;
    const platform::Status opened = OpenLogWith(open, patience);
    EXPECT_EQ(opened.ok() ? 0u : opened.error().code, c.answered);
    EXPECT_EQ(open.opens, c.opens);
    EXPECT_EQ(open.paused, kLogOpenRetry * static_cast<int>(c.opens - 1));
    EXPECT_LE(open.paused, kLogOpenPatience);
  }
}

// A holder that outlasts one line's tries costs the run that wait once.
TEST(LogOpen, AfterOneLinesTriesRanOutEachOpenIsTriedOnce) {
  OpenPatience patience;
  ScriptedLogOpen released({platform::kStatusOplockBreakInProgress, 0});
  EXPECT_TRUE(OpenLogWith(released, patience).ok());
  EXPECT_EQ(patience.NextTries(), kLogOpenTries);
  ScriptedLogOpen kept({platform::kStatusOplockBreakInProgress});
  EXPECT_FALSE(OpenLogWith(kept, patience).ok());
  ScriptedLogOpen next({platform::kStatusOplockBreakInProgress, 0});
  EXPECT_FALSE(OpenLogWith(next, patience).ok());
  EXPECT_EQ(next.opens, 1u);
}

}  // namespace
}  // namespace starter::log
