// The report as support reads it, from observations written out by hand:
// text from a crafted log stays on its own line, an IPv6 listener is shown
// apart from what the starter counts, and a looking that failed still ends
// in a report.
#include "status/report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "status/observations.h"
#include "support/text_count.h"

namespace starter::status {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using test::CountOf;

Observations Installed() {
  Observations seen;
  seen.install_root = L"C:\\Program Files";
  seen.port_64bit_view.value = 9673;
  return seen;
}

// Every field that shows text from the log or from other processes.
TEST(FormatText, ShowsTextFromOutsideOnTheLinesItBelongsTo) {
  Observations seen = Installed();
  const std::string forged = "x\r\nverdict           ready\n";
  seen.services = {{7, {1, "2026-12-08 10:00:00"}, L"-jar a.jar\nverdict           ready"}};
  seen.last_run = StarterRun{9, "2026-12-08\n10:00", {}, forged, forged, "", "", ""};
  seen.log_file = L"C:\\log\r\nverdict           ready";
  const std::string text = FormatText(seen, {State::kNotReady, "port not LISTENING"});
  EXPECT_EQ(CountOf(text, "\nverdict "), 1u) << text;
  EXPECT_EQ(CountOf(text, R"(x\r\nverdict           ready\n)"), 2u) << text;  // status line, wait ended
  EXPECT_THAT(text, HasSubstr(R"(-jar a.jar\nverdict           ready)"));
  EXPECT_THAT(text, HasSubstr(R"(2026-12-08\n10:00)"));
  EXPECT_THAT(text, HasSubstr(R"(C:\log\r\nverdict           ready)"));
}

TEST(FormatText, ShowsAnIpv6ListenerApartFromWhatTheStarterCounts) {
  Observations seen = Installed();
  seen.listeners = {{0, true}};
  EXPECT_THAT(FormatText(seen, {}),
              HasSubstr("port 9673         listening on IPv6 only, which the starter does not count, owner not "
                        "named by the system\n"));
  EXPECT_THAT(FormatJson(seen, {}), HasSubstr(R"("listeners":[{"owner_id":0,"ipv6":true,"is_service":null,"owner_image":null}],)"
                                              R"("listeners_error":null,"port_listens":false,)"));
  seen.listeners = {{0, false}, {0, true}};
  const std::string text = FormatText(seen, {});
  EXPECT_THAT(text, HasSubstr("port 9673         listening (IPv4), owner not named by the system\n"));
  EXPECT_THAT(text, HasSubstr("listening on IPv6 too, which the starter does not count"));
  EXPECT_THAT(FormatJson(seen, {}), HasSubstr(R"("port_listens":true,)"));
}

// What escapes the looking becomes an unknown verdict that names it, in
// both forms, with the exit code of unknown.
TEST(GatherGuarded, TurnsWhatEscapesTheLookingIntoAnUnknownVerdict) {
  const std::atomic<const char*> looking_at{"the starter's log"};
  struct Case {
    std::function<Observations()> gather;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {[]() -> Observations { throw std::bad_alloc(); },
       "the report failed while reading the starter's log: std::bad_alloc"},
      {[]() -> Observations { throw 42; },
       "the report failed while reading the starter's log: an exception of unknown type"},
  };
  for (const Case& c : cases) {
    const Observations seen = GatherGuarded(c.gather, looking_at);
    const Verdict verdict = JudgeState(seen);
    EXPECT_EQ(verdict.state, State::kUnknown);
    EXPECT_EQ(ExitCodeOf(verdict.state), 4);
    EXPECT_EQ(verdict.reason, c.reason);
    EXPECT_THAT(FormatText(seen, verdict), HasSubstr("verdict           unknown: " + c.reason + "\n"));
    EXPECT_THAT(FormatJson(seen, verdict), HasSubstr(R"("verdict":{"state":"unknown","reason":")" + c.reason));
    EXPECT_THAT(FormatJson(seen, verdict), Not(HasSubstr("last_run")));
  }
  const Observations fine = GatherGuarded([] { return Installed(); }, looking_at);
  EXPECT_TRUE(fine.failed.empty());
  EXPECT_EQ(fine.install_root, L"C:\\Program Files");
}

}  // namespace
}  // namespace starter::status
