#include "log/writers_mutex.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace starter::log {
namespace {

constexpr MutexCall kGot = MutexCall::kGot, kDenied = MutexCall::kAccessDenied;

TEST(WritersMutex, GlobalFirstAndAnExistingOneIsOpenedBeforeAnyFallback) {
  struct Case {
    const char* name;
    std::map<std::string, MutexCall> answers;  // a call not listed fails
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
    std::vector<std::string> calls;
    auto call = [&](const char* what, MutexScope scope) {
      calls.push_back(std::string(what) + (scope == MutexScope::kGlobal ? " Global" : " Local"));
      auto answer = c.answers.find(calls.back());
      return answer == c.answers.end() ? MutexCall::kFailed : answer->second;
    };
    EXPECT_EQ(ObtainWritersMutex([&](MutexScope scope) { return call("create", scope); },
                                 [&](MutexScope scope) { return call("open", scope); }),
              c.obtained);
    EXPECT_EQ(calls, c.calls);
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

}  // namespace
}  // namespace starter::log
