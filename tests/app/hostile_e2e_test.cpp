// The real starter handed what a hostile machine hands it: odd command lines
// and environments, files and folders in the way, a registry it cannot write,
// a service that dies or never gets ready, and other starters at the same
// moment. Whatever it meets, it ends with exit code 0, the status line its
// mode owes, and a whole log.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "app/hostile_run.h"
#include "platform/handles.h"
#include "support/capabilities.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::Not;

std::vector<std::string> ParamLines(const std::vector<std::string>& arguments) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < arguments.size(); ++i)
    lines.push_back("info param " + std::to_string(i + 1) + "->" + arguments[i]);
  return lines;
}

// ---------------------------------------------------------------------------
// Command lines

struct Arguments {
  const char* name;
  std::vector<std::string> arguments;
  const char* status_line;
  friend void PrintTo(const Arguments& value, std::ostream* out) { *out << value.name; }
};

std::string EveryHighByte() {
  std::string bytes;
  for (int byte = 0x80; byte <= 0xFF; ++byte) bytes += static_cast<char>(byte);
  return bytes;
}

std::vector<std::string> HundredArguments() {
  std::vector<std::string> arguments = {"--BrandleAgent", "Selkan"};
  for (int i = 3; i <= 100; ++i) arguments.push_back("arg" + std::to_string(i));
  return arguments;
}

std::string LongArgument() {
  std::string text;
  while (text.size() < 30000) text += "0123456789abcdefghijklmnopqrstuvwxyz";
  return text.substr(0, 30000);
}

class HostileArguments : public HostileRun, public ::testing::WithParamInterface<Arguments> {};

// Each argument reaches the log byte for byte, in its own line, and nothing in
// it is taken for a placeholder; only the first two decide the mode.
TEST_P(HostileArguments, AreLoggedByteForByteAndOnlyTheFirstTwoCount) {
  const Arguments& call = GetParam();
  StarterOutcome run = RunStarter(call.arguments);
  ExpectCleanEnd(run, call.status_line);
  std::vector<std::string> lines = LinesOf(run);
  std::vector<std::string> expected = Concat({"info [ START ] 2.3.6.2"}, ParamLines(call.arguments));
  expected.push_back("info start");
  ASSERT_GT(lines.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), lines.begin()));
  ExpectWholeLog();
}

INSTANTIATE_TEST_SUITE_P(
    Calls, HostileArguments,
    ::testing::Values(
        Arguments{"NonAnsiAndFormatBytes",
                  {EveryHighByte(), "{}{0}{:>999999999}%s%n%x", "\xe4\xb8\xad\xe6\x96\x87"},
                  ""},
        Arguments{"ThirtyThousandBytes", {"--Dravel", "Brimvale", LongArgument()}, kSuccess},
        Arguments{"HundredArguments", HundredArguments(), kSuccess}),
    [](const auto& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------
// TEMP

struct TempValue {
  const char* name;
  std::wstring value;
  std::string logged;  // the value as the log must show it
  friend void PrintTo(const TempValue& value, std::ostream* out) { *out << value.name; }
};

class HostileTemp : public HostileRun, public ::testing::WithParamInterface<TempValue> {};

// Five whole tries, each naming the value in full, then the launch with the
// fixed temp folder; the service still starts with that environment.
TEST_P(HostileTemp, IsTriedFiveTimesAndNamedInFull) {
  const TempValue& temp = GetParam();
  StarterOutcome run = RunStarter({"--BrandleAgent", "UninstallReport"}, {{L"TEMP", temp.value}});
  ExpectCleanEnd(run, "");
  std::vector<std::string> tries;
  for (int attempt = 0; attempt < 5; ++attempt)
    tries.insert(tries.end(), {"info start", "info TEMP->" + temp.logged, "info cannot access->" + temp.logged});
  tries.insert(tries.end(), {"info default temp is not ready", "info starter temp: 0", "info CreateProcess succeeds"});
  std::vector<std::string> lines = LinesOf(run);
  EXPECT_TRUE(HasInOrder(lines, tries));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "info start"), 5);
  EXPECT_TRUE(WaitFor([&] { return RecordedCommandLines().size() == 1; }));
  ExpectWholeLog();
}

INSTANTIATE_TEST_SUITE_P(
    Values, HostileTemp,
    ::testing::Values(TempValue{"LongestValue", L"C:\\" + std::wstring(32764, L'x'), "C:\\" + std::string(32764, 'x')},
                      // A lone surrogate has no UTF-8 form: the log shows U+FFFD.
                      TempValue{"LoneSurrogate", L"C:\\no\xD800such", "C:\\no\xEF\xBF\xBDsuch"}),
    [](const auto& param) { return std::string(param.param.name); });

// A TEMP that ends in a backslash, as some tools set it, names its folder:
// one look finds it, and the service keeps the caller's TEMP.
TEST_F(HostileMachine, ATempEndingInABackslashIsUsable) {
  const std::wstring temp = EnvironmentVariable(L"TEMP").value_or(L"") + L"\\";
  StarterOutcome run = RunStarter({"--BrandleAgent", "UninstallReport"}, {{L"TEMP", temp}});
  ExpectCleanEnd(run, "");
  std::vector<std::string> lines = LinesOf(run);
  EXPECT_TRUE(HasInOrder(lines, {"info start", "info TEMP->" + StarterTest::Utf8(temp), "info default temp is ready",
                                 "info starter temp: 1", "info CreateProcess succeeds"}));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "info start"), 1);
}

// ---------------------------------------------------------------------------
// Registry

// A volatile parent key makes the non-volatile key impossible to create, as
// missing rights would: the failure is logged, the run goes on with the port
// it chose, and the service is launched all the same.
TEST_F(HostileMachine, ARegistryKeyThatCannotBeCreatedCostsOnlyTheStoredPort) {
  platform::UniqueKey volatile_key;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\dadevuvidi", 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, volatile_key.put(), nullptr),
            ERROR_SUCCESS);
  StarterOutcome run = RunStarter({"--BrandleAgent", "Dravel"});
  ExpectCleanEnd(run, kSuccess);
  std::vector<std::string> lines = LinesOf(run);
  EXPECT_TRUE(HasInOrder(lines, {"info RegOpenKeyEx Error: 2", "info RegCreateKeyEx open key failed, result: 1021",
                                 "info write ServerPort error", "info start exe 9673 ...", "info CreateProcess succeeds",
                                 std::string("info OUTPUT->") + kSuccess}));
  EXPECT_FALSE(StoredServerPort().has_value());
  ExpectWholeLog();
  volatile_key.reset();
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\dadevuvidi", KEY_WOW64_64KEY, 0);
}

// ---------------------------------------------------------------------------
// The install root

// The system's value of the Program Files folder, pointed at a folder that
// does not exist while this object lives: the shell then names no Program
// Files folder, as on a machine whose profile lost it.
class MissingProgramFiles {
 public:
  MissingProgramFiles() {
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key_.put());
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (key_ && ::RegQueryValueExW(key_.get(), kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
                    ERROR_SUCCESS)
      saved_ = value;
    engaged_ = !saved_.empty() && Store(L"C:\\NoSuchProgramFiles");
  }
  ~MissingProgramFiles() {
    if (engaged_) Store(saved_);
  }
  MissingProgramFiles(const MissingProgramFiles&) = delete;
  MissingProgramFiles& operator=(const MissingProgramFiles&) = delete;
  bool Engaged() const { return engaged_; }

 private:
  static constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
  static constexpr wchar_t kValue[] = L"ProgramFilesDir";
  bool Store(const std::wstring& folder) {
    return ::RegSetValueExW(key_.get(), kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                            static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  platform::UniqueKey key_;
  std::wstring saved_;
  bool engaged_ = false;
};

// Without an install root every product path would name a folder at the
// root of the current drive: the run says why (the warning and the shell's
// code on the next line), creates no marker, launches nothing, and still
// chooses and stores its port.
TEST_F(HostileMachine, AnUnknownInstallRootCreatesNoMarkerAndLaunchesNothing) {
  const std::wstring install_marker = InstallMarker(), report_marker = ReportMarker();
  StarterOutcome run;
  {
    const MissingProgramFiles missing;
    ASSERT_TRUE(missing.Engaged());
    run = RunStarter({"--BrandleAgent", "UninstallReport"});
  }
  ExpectCleanEnd(run, "");
  const std::vector<std::string> lines = LinesOf(run);
  const auto warning = std::find(lines.begin(), lines.end(), "warning GetSpecialDir Error");
  ASSERT_NE(warning, lines.end());
  ASSERT_NE(warning + 1, lines.end());
  const std::regex code_line(R"(info (SHGetSpecialFolderLocation hr=0x[0-9A-F]{8}|SHGetPathFromIDListW GLE=[0-9]+))");
  EXPECT_TRUE(std::regex_match(*(warning + 1), code_line)) << *(warning + 1);
  EXPECT_TRUE(HasInOrder(lines, {"warning GetSpecialDir Error", "info default temp is ready",
                                 "warning install root unknown: marker files and service launch skipped",
                                 "info start exe 9673 ...", "info check case..."}));
  EXPECT_THAT(lines, Not(Contains(::testing::HasSubstr("create "))));
  EXPECT_THAT(lines, Not(Contains(::testing::HasSubstr("cmd->"))));
  EXPECT_THAT(lines, Not(Contains(::testing::HasSubstr("CreateProcess"))));
  EXPECT_FALSE(PathExists(install_marker));
  EXPECT_FALSE(PathExists(report_marker));
  EXPECT_FALSE(PathExists(L"C:\\norvik"));
  EXPECT_FALSE(PathExists(L"C:\\ForceInstall.file"));
  EXPECT_EQ(CountProcessesNamed(L"java.exe"), 0);
  EXPECT_TRUE(RecordedCommandLines().empty());
  ExpectWholeLog();
}

// ---------------------------------------------------------------------------
// Marker files and the Vantic folder

TEST_F(HostileMachine, AFolderNamedLikeAMarkerIsLeftAloneAndCountsAsPresent) {
  ASSERT_TRUE(fs::create_directory(InstallMarker()));
  StarterOutcome run = RunStarter({"--BrandleAgent", "UninstallReport"});
  ExpectCleanEnd(run, "");
  std::vector<std::string> lines = LinesOf(run);
  EXPECT_THAT(lines, Not(Contains(::testing::HasSubstr("ForceInstall.file"))));
  EXPECT_THAT(lines, Contains("info create Report.file"));
  EXPECT_TRUE(fs::is_directory(InstallMarker()));
  ExpectWholeLog();
}

// Without its folder no marker can be made: the failures are logged as
// warnings, no folder is conjured up, and the service is still launched.
TEST_F(HostileMachine, AMissingVanticFolderIsReportedAndNotRecreated) {
  fs::remove_all(VanticDir());
  StarterOutcome run = RunStarter({"--BrandleAgent", "UninstallReport"});
  ExpectCleanEnd(run, "");
  std::vector<std::string> lines = LinesOf(run);
  EXPECT_THAT(lines, Contains(::testing::StartsWith("warning create ForceInstall.file failed->")));
  EXPECT_THAT(lines, Contains(::testing::StartsWith("warning create Report.file failed->")));
  EXPECT_THAT(lines, Not(Contains("info create ForceInstall.file")));
  EXPECT_THAT(lines, Contains("info CreateProcess succeeds"));
  EXPECT_FALSE(PathExists(VanticDir()));
  ExpectWholeLog();
}

// Nothing can be created or deleted in the folder: both markers fail with
// access denied, and the stale connected marker, which the starter tries to
// remove, stays. Where the system has no deletion with POSIX semantics
// (wine 8), the rename aside is refused and the warning says so. Wine 10
// accepts the POSIX deletion and fails it unseen when the handle closes
// (the immutable attribute, the stand-in for an unwritable folder, acts only
// on the unlink; Windows refuses the opening for deletion instead), so there
// the starter has no refusal to report.
TEST_F(HostileMachine, AnUnwritableVanticFolderLeavesEverythingAsItWas) {
  ASSERT_TRUE(WriteFileBytes(ConnectedMarker(), "{}"));
  StarterOutcome run;
  {
    UnwritableFolder unwritable(VanticDir());
    if (!unwritable.Engaged()) GTEST_SKIP() << "this machine cannot make a folder unwritable under wine";
    // The service could still rewrite the existing marker; it must not here.
    run = RunStarter({"--BrandleAgent", "UninstallReport"}, {{L"STANDIN_NO_MARKER", L"1"}});
  }
  ExpectCleanEnd(run, "");
  std::vector<std::string> lines = LinesOf(run);
  std::vector<std::string> removal = {"info Vantic process not exist", "info remove WsClientConnected.json"};
  if (!DeletesWithPosixSemantics())
    removal.emplace_back("warning WsClientConnected.json left in place: SetFileInformationByHandle(FileRenameInfo) GLE=5");
  EXPECT_TRUE(HasInOrder(lines, removal)) << ::testing::PrintToString(lines);
  EXPECT_THAT(lines, Contains(::testing::MatchesRegex("warning create ForceInstall.file failed->.* GLE=5")));
  EXPECT_THAT(lines, Contains(::testing::MatchesRegex("warning create Report.file failed->.* GLE=5")));
  EXPECT_EQ(ReadFileBytes(ConnectedMarker()), "{}");
  EXPECT_FALSE(PathExists(InstallMarker()));
  ExpectWholeLog();
}

// ---------------------------------------------------------------------------
// A service that never becomes ready

// The service listens but never writes its marker, whose folder is gone as
// well, and it is killed while the callers still wait: the port mode is
// served, the others run out of polls and say so. None takes the missing
// folder for a marker, and none stumbles over the vanished processes.
TEST_F(HostileMachine, AServiceThatNeverGetsReadyAndThenDiesIsReportedByEachMode) {
  fs::remove_all(VanticDir());
  std::vector<Caller> callers = {
      {{}, R"({"Dravel":1,"Selkan":1})", "Case no args, check port,process and file", {}},
      {{"--Dravel", "Brimvale"}, kSuccess, "Case --Dravel Brimvale, check port", {}},
      {{"--BrandleAgent", "Dravel"}, R"({"Dravel":0,"Selkan":1})", "Case --BrandleAgent Dravel, check process and file", {}}};
  RunTogether(callers, {{L"STANDIN_NO_MARKER", L"1"}}, [] { KillProcessesNamed(L"java.exe"); });
  for (const Caller& caller : callers) {
    SCOPED_TRACE(caller.mode_line);
    ExpectCleanEnd(caller.run, caller.status_line);
    if (caller.status_line == kSuccess) EXPECT_LT(caller.run.process.seconds, 15.0);
    else EXPECT_GE(caller.run.process.seconds, 19.0);  // 200 polls, 100 ms apart
    EXPECT_TRUE(HasInOrder(LinesOf(caller.run), {std::string("info ") + caller.mode_line,
                                                 "info OUTPUT->" + caller.status_line, "info [ END ]\n"}));
  }
  ExpectWholeLog();
}

// ---------------------------------------------------------------------------
// Starters at the same moment

bool IsStartLineWithAPortOfTheRange(const std::string& line) {
  unsigned port = 0;
  char end = 0;
  return std::sscanf(line.c_str(), "info start exe %u ..%c", &port, &end) == 2 && end == '.' &&
         port >= 9673 && port <= 9700;
}

// The first two arguments and 98 more of the caller's mark, so that the
// starters write many lines into the log at the same moment.
std::vector<std::string> WithManyMore(std::vector<std::string> arguments, char mark) {
  for (int i = 3; i <= 100; ++i) arguments.push_back(std::to_string(i) + std::string(100, mark));
  return arguments;
}

// Four callers at once, three times over, in one log: each run prints its own line
// and keeps every line of its own, whole and in order, and the registry ends
// with a port of the range whoever wrote last.
TEST_F(HostileMachine, StartersAtTheSameMomentKeepTheirLinesWholeAndTheirOwn) {
  std::vector<Caller> all;
  for (int round = 0; round < 3; ++round) {
    std::vector<Caller> callers = {
        {WithManyMore({"--Dravel", "Brimvale"}, 'p'), kSuccess, "Case --Dravel Brimvale, check port", {}},
        {WithManyMore({"--BrandleAgent", "Dravel"}, 'd'), kSuccess,
         "Case --BrandleAgent Dravel, check process and file", {}},
        {WithManyMore({"--BrandleAgent", "Selkan"}, 's'), kSuccess,
         "Case --BrandleAgent Dravel, check process and file", {}},
        {WithManyMore({"--BrandleAgent", "UninstallReport"}, 'u'), "", "Case --BrandleAgent UninstallReport", {}}};
    RunTogether(callers, {});
    all.insert(all.end(), callers.begin(), callers.end());
  }
  std::map<std::uint32_t, std::vector<std::string>> runs = ExpectWholeLog();
  EXPECT_EQ(runs.size(), all.size());
  for (const Caller& caller : all) {
    SCOPED_TRACE(caller.mode_line);
    ExpectCleanEnd(caller.run, caller.status_line);
    std::vector<std::string> own = Concat({"info [ START ] 2.3.6.2"}, ParamLines(caller.arguments));
    own.insert(own.end(), {"info start", "info default temp is ready", "info starter temp: 1",
                           "info CreateProcess succeeds", "info end", "info check case...",
                           std::string("info ") + caller.mode_line});
    if (!caller.status_line.empty()) own.push_back("info OUTPUT->" + caller.status_line);
    own.push_back("info [ END ]\n");
    const std::vector<std::string>& lines = runs[caller.run.process.process_id];
    EXPECT_TRUE(HasInOrder(lines, own));
    EXPECT_THAT(lines, Contains(::testing::Truly(IsStartLineWithAPortOfTheRange)));
  }
  std::optional<std::uint32_t> port = StoredServerPort();
  ASSERT_TRUE(port.has_value());
  EXPECT_GE(*port, 9673u);
  EXPECT_LE(*port, 9700u);
}

}  // namespace
}  // namespace starter::test
