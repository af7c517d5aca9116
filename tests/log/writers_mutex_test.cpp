#include "log/writers_mutex.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace starter::log {
namespace {

using ::testing::ElementsAreArray;

// Answers each call from a table (a call not in it fails) and notes the calls
// in order, as "create Global", "open Local" and so on.
struct Namespaces {
  std::map<std::string, MutexCall> answers;
  std::vector<std::string> calls;

  MutexCall Call(const char* what, MutexScope scope) {
    std::string call = std::string(what) + (scope == MutexScope::kGlobal ? " Global" : " Local");
    calls.push_back(call);
    auto answer = answers.find(call);
    return answer == answers.end() ? MutexCall::kFailed : answer->second;
  }
  bool Obtain() {
    return ObtainWritersMutex([this](MutexScope scope) { return Call("create", scope); },
                              [this](MutexScope scope) { return Call("open", scope); });
  }
};

struct Case {
  const char* name;
  std::map<std::string, MutexCall> answers;
  bool obtained;
  std::vector<std::string> calls;
};

TEST(WritersMutex, GlobalFirstAndAnExistingOneIsOpenedBeforeAnyFallback) {
  constexpr MutexCall kGot = MutexCall::kGot, kDenied = MutexCall::kAccessDenied;
  const Case cases[] = {
      {"created or opened with full access", {{"create Global", kGot}}, true, {"create Global"}},
      {"made by another account: opened to wait and release",
       {{"create Global", kDenied}, {"open Global", kGot}},
       true,
       {"create Global", "open Global"}},
      {"global one refused even that: the session's",
       {{"create Global", kDenied}, {"create Local", kGot}},
       true,
       {"create Global", "open Global", "create Local"}},
      {"no global namespace: nothing there to open",
       {{"create Local", kGot}},
       true,
       {"create Global", "create Local"}},
      {"session's one made by another account",
       {{"create Global", kDenied}, {"create Local", kDenied}, {"open Local", kGot}},
       true,
       {"create Global", "open Global", "create Local", "open Local"}},
      {"none at all: writers go without the lock",
       {{"create Global", kDenied}, {"create Local", kDenied}},
       false,
       {"create Global", "open Global", "create Local", "open Local"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Namespaces namespaces{c.answers, {}};
    EXPECT_EQ(namespaces.Obtain(), c.obtained);
    EXPECT_THAT(namespaces.calls, ElementsAreArray(c.calls));
  }
}

}  // namespace
}  // namespace starter::log
