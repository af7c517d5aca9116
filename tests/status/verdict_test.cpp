// The verdict and exit code of the status report, on observations written
// out by hand: what a support person is told for each state of a machine.
#include "status/verdict.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "status/json_text.h"
#include "status/report.h"

namespace starter::status {
namespace {

constexpr std::uint64_t kSecond = 10'000'000;  // file and process times count 100 ns
constexpr std::uint64_t kServiceStart = 1000 * kSecond;

FileFacts Present(std::uint64_t written) {
  FileFacts file;
  file.present = true;
  file.written.ticks = written;
  return file;
}

// A machine where everything is ready, one minute after the service started.
Observations Ready() {
  Observations seen;
  seen.now.ticks = kServiceStart + 60 * kSecond;
  seen.install_root = L"C:\\Program Files";
  seen.java_runtime = Present(1);
  seen.service_jar = Present(1);
  seen.port_64bit_view.value = 9673;
  seen.services = {{4242, {kServiceStart, ""}, L" -jar \"Vantic.jar\""}};
  seen.listeners = {{4242, false}};
  seen.owner_looks = {{4242, {service::Identity::kService, L"java.exe"}}};
  seen.ConnectedMarker() = Present(kServiceStart + 5 * kSecond);
  return seen;
}

port::OwnerLooks Other(std::uint32_t process_id) {
  return {{process_id, {service::Identity::kOtherProgram, L"other.exe"}}};
}

// No service known, only a java.exe (5151) that cannot be examined, by a
// run whose debug privilege came to `debug_privilege`.
std::function<void(Observations&)> Unexamined(platform::Expected<bool> debug_privilege) {
  return [debug_privilege](Observations& s) {
    s.services.clear();
    s.unexamined = {5151};
    s.debug_privilege = debug_privilege;
  };
}

struct VerdictCase {
  const char* name;
  std::function<void(Observations&)> change;
  State state;
  int exit_code;
  std::string reason;
};

TEST(JudgeState, NamesTheStateTheCheckThatFailsAndTheExitCode) {
  const platform::SystemError denied{"OpenProcess", 5};
  const std::vector<VerdictCase> cases = {
      {"ready", [](Observations&) {}, State::kReady, 0, ""},
      {"owner not named, as under wine", [](Observations& s) { s.listeners = {{std::nullopt, false}}; }, State::kReady,
       0, ""},
      {"no install root", [](Observations& s) { s.install_root.clear(); }, State::kNotInstalled, 4,
       "the Program Files folder is unknown"},
      {"no jar", [](Observations& s) { s.service_jar = {}; }, State::kNotInstalled, 4, "Vantic.jar is missing"},
      {"runtime unreadable", [&](Observations& s) { s.java_runtime = {L"", false, denied, 0, {}}; }, State::kUnknown, 4,
       "java.exe cannot be read: OpenProcess GLE=5"},
      {"no service", [](Observations& s) { s.services.clear(); }, State::kNotRunning, 3, "exe not Exist"},
      {"process list unreadable", [&](Observations& s) { s.services_unread = denied; }, State::kUnknown, 4,
       "the running processes cannot be read: OpenProcess GLE=5"},
      {"no port stored", [](Observations& s) { s.port_64bit_view = {}; }, State::kNotReady, 1,
       "port not LISTENING (ServerPort holds no port of 9673..9700)"},
      {"no key for the port",
       [](Observations& s) { s.port_64bit_view = {std::nullopt, platform::SystemError{"RegOpenKeyExW", 2}}; },
       State::kNotReady, 1, "port not LISTENING (ServerPort holds no port of 9673..9700)"},
      {"a stored value of another type",
       [](Observations& s) { s.port_64bit_view = {std::nullopt, platform::SystemError{"RegQueryValueExW", 1629}}; },
       State::kNotReady, 1, "port not LISTENING (ServerPort holds no port of 9673..9700)"},
      // A read that failed is "cannot tell", never a check that failed.
      {"stored port unreadable",
       [](Observations& s) { s.port_64bit_view = {std::nullopt, platform::SystemError{"RegOpenKeyExW", 5}}; },
       State::kUnknown, 4, "ServerPort cannot be read: RegOpenKeyExW GLE=5"},
      {"TCP tables unreadable",
       [](Observations& s) {
         s.listeners.clear();
         s.listeners_unread = platform::SystemError{"GetExtendedTcpTable", 8};
       },
       State::kUnknown, 4, "the TCP tables cannot be read: GetExtendedTcpTable GLE=8"},
      {"process list unreadable, no service seen",
       [](Observations& s) {
         s.services.clear();
         s.services_unread = platform::SystemError{"CreateToolhelp32Snapshot", 5};
       },
       State::kUnknown, 4, "the running processes cannot be read: CreateToolhelp32Snapshot GLE=5"},
      // A check that fails decides, whatever another could not read.
      {"stored port unreadable, no marker",
       [](Observations& s) {
         s.port_64bit_view = {std::nullopt, platform::SystemError{"RegOpenKeyExW", 5}};
         s.ConnectedMarker() = {};
       },
       State::kNotReady, 1, "WsClientConnected.json not Exist"},
      {"marker unreadable, nothing listens",
       [](Observations& s) {
         s.listeners.clear();
         s.ConnectedMarker().unreadable = platform::SystemError{"GetFileAttributesExW", 5};
       },
       State::kNotReady, 1, "port not LISTENING (nothing listens on 9673)"},
      {"nothing listens", [](Observations& s) { s.listeners.clear(); }, State::kNotReady, 1,
       "port not LISTENING (nothing listens on 9673)"},
      {"another program listens", [](Observations& s) { s.listeners = {{777, false}}; s.owner_looks = Other(777); },
       State::kNotReady, 1, "port 9673 held by process 777 (other.exe), no Vantic service"},
      // The starter's wait counts the service's listener: so does the report.
      {"the service and another program both on IPv4",
       [](Observations& s) {
         s.listeners = {{777, false}, {4242, false}};
         s.owner_looks.merge(Other(777));
       },
       State::kReady, 0, ""},
      {"the owner, a java.exe, cannot be examined",
       [](Observations& s) {
         s.listeners = {{5151, false}};
         s.owner_looks = {{5151, {service::Identity::kCannotTell, L"java.exe"}}};
       },
       State::kReady, 0, ""},
      {"the owner ended since the tables were read",
       [](Observations& s) { s.owner_looks = {{4242, {service::Identity::kEnded, L""}}}; }, State::kNotReady, 1,
       "port not LISTENING (what listened on 9673 has ended)"},
      // What would examine it is what this run's debug privilege makes true.
      {"no service known, a java.exe that cannot be examined without the debug privilege", Unexamined(false),
       State::kUnknown, 4,
       "process 5151 (java.exe) cannot be examined from this account: an elevated run of zephra_vantic_status.exe "
       "(run as administrator) enables the debug privilege, which can examine it and tell whether it is the Vantic "
       "service"},
      {"no service known, a java.exe that cannot be examined with the debug privilege enabled", Unexamined(true),
       State::kUnknown, 4,
       "process 5151 (java.exe) cannot be examined, even with the debug privilege this run enabled: it may be the "
       "Vantic service"},
      {"no service known, a java.exe that cannot be examined, the debug privilege not enabled",
       Unexamined(platform::SystemError{"OpenProcessToken", 5}), State::kUnknown, 4,
       "process 5151 (java.exe) cannot be examined from this account, and the debug privilege could not be enabled "
       "(OpenProcessToken GLE=5): it may be the Vantic service"},
      {"only IPv6 listens, which the starter does not count", [](Observations& s) { s.listeners = {{4242, true}}; },
       State::kNotReady, 1, "port not LISTENING (only IPv6 listens on 9673, which the starter does not count)"},
      {"another program on IPv6 beside the service on IPv4",
       [](Observations& s) { s.listeners = {{4242, false}, {777, true}}; }, State::kReady, 0, ""},
      {"marker unreadable",
       [](Observations& s) {
         s.ConnectedMarker() = {};
         s.ConnectedMarker().unreadable = platform::SystemError{"GetFileAttributesExW", 32};
       },
       State::kUnknown, 4, "WsClientConnected.json cannot be read: GetFileAttributesExW GLE=32"},
      {"no marker", [](Observations& s) { s.ConnectedMarker() = {}; }, State::kNotReady, 1,
       "WsClientConnected.json not Exist"},
      {"a leftover marker", [](Observations& s) { s.ConnectedMarker() = Present(kServiceStart - kSecond); },
       State::kNotReady, 1, "WsClientConnected.json not Exist (the one there is older than every running service)"},
      {"young service without its marker",
       [](Observations& s) {
         s.ConnectedMarker() = {};
         s.now.ticks = kServiceStart + 19 * kSecond;
       },
       State::kStarting, 1, "WsClientConnected.json not Exist"},
  };
  for (const VerdictCase& c : cases) {
    SCOPED_TRACE(c.name);
    Observations seen = Ready();
    c.change(seen);
    const Verdict verdict = JudgeState(seen);
    EXPECT_EQ(verdict.state, c.state);
    EXPECT_EQ(verdict.reason, c.reason);
    EXPECT_EQ(ExitCodeOf(verdict.state), c.exit_code);
  }
}

// A path or a log line may hold anything: the object stays valid JSON.
TEST(JsonString, EscapesWhatJsonForbidsAndReplacesWhatIsNoUtf8) {
  EXPECT_EQ(JsonString("C:\\Program Files \"x\"\n"), R"("C:\\Program Files \"x\"\n")");
  EXPECT_EQ(JsonString("\x01\xC3\xA9\xE2\x82\xAC"), "\"\\u0001\xC3\xA9\xE2\x82\xAC\"");
  EXPECT_EQ(JsonString("a\xFF" "b\xC3"), "\"a\xEF\xBF\xBD" "b\xEF\xBF\xBD\"");
}

// A strict reader rejects an object with any ill-formed sequence: each one
// becomes one U+FFFD, and the well-formed extremes stay as they are.
TEST(JsonString, ReplacesSurrogatesOverlongFormsAndValuesBeyondUnicode) {
  const std::string fffd = "\xEF\xBF\xBD";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\xED\xA0\x80", fffd + fffd + fffd},                 // U+D800: ED takes 80..9F only
      {"\xED\xBF\xBF", fffd + fffd + fffd},                 // U+DFFF
      {"\xC0\x80", fffd + fffd},                             // NUL in two bytes
      {"\xE0\x80\xAF", fffd + fffd + fffd},                 // "/" in three
      {"\xF0\x80\x80\xAF", fffd + fffd + fffd + fffd},     // and in four
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},     // U+110000
      {"\xF5\x80\x80\x80", fffd + fffd + fffd + fffd},     // beyond any lead
      {"\xE2\x82" "a\xF0\x9F\x98" "b", fffd + "a" + fffd + "b"},  // cut sequences: one U+FFFD each
      {"\xED\x9F\xBF\xEE\x80\x80", "\xED\x9F\xBF\xEE\x80\x80"},  // U+D7FF, U+E000
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},  // U+10000, U+10FFFF
  };
  for (const auto& [bytes, json] : cases) EXPECT_EQ(JsonString(bytes), "\"" + json + "\"");
}

TEST(ModeOf, NamesTheCallerModeOfARunsArguments) {
  EXPECT_EQ(ModeOf({}), "no arguments");
  EXPECT_EQ(ModeOf({"--Dravel", "Brimvale"}), "--Dravel Brimvale");
  EXPECT_EQ(ModeOf({"--BrandleAgent", "Selkan"}), "--BrandleAgent Selkan");
  EXPECT_EQ(ModeOf({"--BrandleAgent", "UninstallReport"}), "--BrandleAgent UninstallReport");
  EXPECT_EQ(ModeOf({"--dravel", "Brimvale"}), "no mode");
}

}  // namespace
}  // namespace starter::status
