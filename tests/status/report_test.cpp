// The report as support reads it, from observations written out by hand:
// text from a crafted log stays on its own line, an IPv6 listener is shown
// apart from what the starter counts, a refused log is named, and a looking
// or a writing that failed still ends in a report. Standard output is
// scripted: a console that takes part of each write, fails or throws.
#include "status/report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <new>
#include <string>
#include <vector>

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
  seen.last_run = StarterRun{9, "2026-12-08\n10:00", {}, forged, forged, "", "", "", ""};
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
  seen.listeners = {{std::nullopt, true}};
  EXPECT_THAT(FormatText(seen, {}),
              HasSubstr("port 9673         listening on IPv6 only, which the starter does not count, owner not "
                        "named by the system\n"));
  EXPECT_THAT(FormatJson(seen, {}), HasSubstr(R"("listeners":[{"owner_id":0,"ipv6":true,"is_service":null,"owner_image":null}],)"
                                              R"("listeners_error":null,"port_listens":false,)"));
  seen.listeners = {{std::nullopt, false}, {std::nullopt, true}};
  const std::string text = FormatText(seen, {});
  EXPECT_THAT(text, HasSubstr("port 9673         listening (IPv4), owner not named by the system\n"));
  EXPECT_THAT(text, HasSubstr("listening on IPv6 too, which the starter does not count"));
  EXPECT_THAT(FormatJson(seen, {}), HasSubstr(R"("port_listens":true,)"));
}

// A read that failed is shown as one, never as the answer it did not give:
// a ServerPort that cannot be read is not "not set", and a marker that
// cannot be looked at is not one older than every running service.
TEST(FormatText, ShowsAReadThatFailedApartFromWhatIsNotThere) {
  Observations seen = Installed();
  seen.port_64bit_view = {std::nullopt, platform::SystemError{"RegOpenKeyExW", 5}};
  EXPECT_THAT(FormatText(seen, {}), HasSubstr("ServerPort        cannot be read (RegOpenKeyExW GLE=5) (64-bit view)\n"));
  seen.port_64bit_view = {std::nullopt, platform::SystemError{"RegOpenKeyExW", 2}};
  EXPECT_THAT(FormatText(seen, {}), HasSubstr("ServerPort        not set (RegOpenKeyExW GLE=2) (64-bit view)\n"));
  seen.services = {{7, {1, "2026-12-08 10:00:00"}, L"-jar Vantic.jar"}};
  seen.ConnectedMarker().unreadable = platform::SystemError{"GetFileAttributesExW", 5};
  EXPECT_THAT(FormatJson(seen, {}), HasSubstr(R"("connected_marker_written_by_running_service":null,)"));
  EXPECT_THAT(FormatText(seen, {}), HasSubstr("WsClientConnected.json: cannot be read (GetFileAttributesExW GLE=5)\n"));
}

// What escapes the looking becomes an unknown verdict that names it, in
// both forms, with the exit code of unknown and the version and time of
// the report.
TEST(FailedLooking, TurnsWhatEscapesTheLookingIntoAnUnknownVerdict) {
  Observations header;
  header.version = "2.3.6.2";
  header.now.local = "2026-12-08 10:00:00";
  struct Case {
    std::function<void()> look;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {[] { throw std::bad_alloc(); }, "the report failed while reading the starter's log: std::bad_alloc"},
      {[] { throw 42; }, "the report failed while reading the starter's log: an exception of unknown type"},
  };
  for (const Case& c : cases) {
    Observations seen;
    try {
      c.look();
    } catch (...) {
      seen = FailedLooking(header, "the starter's log");
    }
    const Verdict verdict = JudgeState(seen);
    EXPECT_EQ(verdict.state, State::kUnknown);
    EXPECT_EQ(ExitCodeOf(verdict.state), 4);
    EXPECT_EQ(verdict.reason, c.reason);
    EXPECT_THAT(FormatText(seen, verdict), HasSubstr("zephra_vantic_status 2.3.6.2 at 2026-12-08 10:00:00\n"));
    EXPECT_THAT(FormatText(seen, verdict), HasSubstr("verdict           unknown: " + c.reason + "\n"));
    EXPECT_THAT(FormatJson(seen, verdict), HasSubstr(R"("verdict":{"state":"unknown","reason":")" + c.reason));
    EXPECT_THAT(FormatJson(seen, verdict), Not(HasSubstr("last_run")));
  }
}

// A log that another account may have put in the log's place is named as
// refused in both forms, and the verdict still comes from the machine.
TEST(FormatText, SaysTheLogWasRefused) {
  Observations seen = Installed();
  seen.log_refused = "Refused C:\\logs: it is a link (reparse point)";
  EXPECT_THAT(FormatText(seen, {}),
              HasSubstr("last run          the log is not read: Refused C:\\logs: it is a link (reparse point)\n"));
  EXPECT_THAT(FormatJson(seen, {}),
              HasSubstr(R"j("error":null,"refused":"Refused C:\\logs: it is a link (reparse point)"},"last_run":null)j"));
}

// Standard output as a test scripts it: a console that takes at most
// `takes` units a write (all when 0), fails its `fail_at`th write, or
// throws on its `throw_at`th; or a pipe.
class ScriptedOutput : public ReportOutput {
 public:
  bool console = true;
  std::size_t takes = 0;
  int fail_at = 0;
  int throw_at = 0;
  std::wstring shown;
  std::string bytes;
  std::vector<std::size_t> writes;  // the size of each write asked

  std::optional<std::wstring> ConsoleText(const std::string& utf8) override {
    if (!console) return std::nullopt;
    return std::wstring(utf8.begin(), utf8.end());  // the tests write ASCII
  }
  std::optional<std::size_t> WriteConsole(std::wstring_view text) override {
    const std::optional<std::size_t> taken = Take(text.size());
    if (taken) shown.append(text.substr(0, *taken));
    return taken;
  }
  std::optional<std::size_t> WriteBytes(std::string_view text) override {
    const std::optional<std::size_t> taken = Take(text.size());
    if (taken) bytes.append(text.substr(0, *taken));
    return taken;
  }

 private:
  std::optional<std::size_t> Take(std::size_t size) {
    writes.push_back(size);
    const int write = static_cast<int>(writes.size());
    if (write == throw_at) throw std::bad_alloc();
    if (write == fail_at) return std::nullopt;
    return takes == 0 ? size : std::min(size, takes);
  }
};

TEST(WriteAll, HandsTheConsolePiecesItsBufferHoldsAndWritesWhatEachWriteLeft) {
  const std::string text = std::string(kConsoleWriteUnits * 2 + 10, 'a') + "\n";
  ScriptedOutput whole;
  EXPECT_TRUE(WriteAll(text, whole));
  EXPECT_EQ(whole.shown, std::wstring(text.begin(), text.end()));
  EXPECT_EQ(whole.writes, (std::vector<std::size_t>{kConsoleWriteUnits, kConsoleWriteUnits, 11}));

  ScriptedOutput short_writes;  // each write takes less than it was given
  short_writes.takes = 5000;
  EXPECT_TRUE(WriteAll(text, short_writes));
  EXPECT_EQ(short_writes.shown, std::wstring(text.begin(), text.end()));
  EXPECT_EQ(short_writes.writes.size(), 4u);

  ScriptedOutput pipe;
  pipe.console = false;
  pipe.takes = 3;
  EXPECT_TRUE(WriteAll("verdict\n", pipe));
  EXPECT_EQ(pipe.bytes, "verdict\n");
  EXPECT_EQ(pipe.writes, (std::vector<std::size_t>{8, 5, 2}));
}

TEST(WriteAll, StopsAtAWriteThatFailsOrTakesNothing) {
  const std::string text(kConsoleWriteUnits * 3, 'a');
  ScriptedOutput failing;
  failing.fail_at = 2;
  EXPECT_FALSE(WriteAll(text, failing));
  EXPECT_EQ(failing.writes.size(), 2u);
  EXPECT_EQ(failing.shown.size(), kConsoleWriteUnits);
  // A write that succeeds and takes nothing would be asked again for ever.
  struct Nothing : ScriptedOutput {
    std::optional<std::size_t> WriteBytes(std::string_view) override { return 0; }
  } nothing;
  nothing.console = false;
  EXPECT_FALSE(WriteAll("abc", nothing));
}

// A piece of the console's text never ends on the first half of a
// surrogate pair: the console would show two replacement characters.
TEST(WriteAll, KeepsASurrogatePairInOnePiece) {
  struct Pair : ScriptedOutput {
    std::optional<std::wstring> ConsoleText(const std::string&) override {
      std::wstring text(kConsoleWriteUnits - 1, L'a');
      return text + static_cast<wchar_t>(0xD83D) + static_cast<wchar_t>(0xDE00) + L'b';
    }
  } output;
  EXPECT_TRUE(WriteAll("ignored", output));
  EXPECT_EQ(output.writes, (std::vector<std::size_t>{kConsoleWriteUnits - 1, 3}));
  EXPECT_EQ(output.shown.size(), kConsoleWriteUnits + 2);
}

// An exception while writing the report is not a crash (exit code 3, "not
// running"): the report of an unknown verdict follows, and the exit code
// is unknown's.
TEST(WriteReport, TurnsAFailureWhileWritingIntoAnUnknownVerdict) {
  Observations seen = Installed();
  seen.version = "2.3.6.2";
  seen.now.local = "2026-12-08 10:00:00";
  seen.java_runtime.present = seen.service_jar.present = true;
  ScriptedOutput fine;
  EXPECT_EQ(WriteReport(seen, {false, true}, fine), 3);  // installed, no service: not running
  EXPECT_THAT(std::string(fine.shown.begin(), fine.shown.end()), HasSubstr(R"("state":"not running")"));

  ScriptedOutput throwing;
  throwing.throw_at = 1;
  EXPECT_EQ(WriteReport(seen, {false, false}, throwing), 4);
  EXPECT_EQ(std::string(throwing.shown.begin(), throwing.shown.end()),
            "zephra_vantic_status 2.3.6.2 at 2026-12-08 10:00:00\n"
            "verdict           unknown: the report failed while writing it: std::bad_alloc\n");

  // Nor can the unknown verdict's report be written: the exit code says it.
  struct Throws : ScriptedOutput {
    std::optional<std::size_t> WriteBytes(std::string_view) override { throw std::bad_alloc(); }
  } throws;
  throws.console = false;
  EXPECT_EQ(WriteReport(seen, {false, true}, throws), 4);
}

}  // namespace
}  // namespace starter::status
