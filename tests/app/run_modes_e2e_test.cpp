// The starter run end to end under wine, once per caller mode, against the
// stand-in service: status line bytes, exit code, log lines, registry, files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "platform/handles.h"
#include "support/starter_run.h"

namespace starter::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

std::string LaunchLine(const std::string& options) {
  std::string root = StarterTest::Utf8(StarterTest::ProgramFiles());
  return "info cmd->\"" + root + "\\norvik\\brandle\\Corvel\\Tidewell\\jre\\bin\\java.exe\" " + options +
         " -jar \"" + root + "\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar\"";
}

// The lines every run on a fresh tree writes before "check case...".
std::vector<std::string> PreparationLines(const std::vector<std::string>& params, std::uint32_t port) {
  std::vector<std::string> lines = {"info [ START ] 2.3.6.2"};
  for (size_t i = 0; i < params.size(); ++i) lines.push_back("info param " + std::to_string(i + 1) + "->" + params[i]);
  std::vector<std::string> rest = {
      "info start",
      "info TEMP->" + StarterTest::Utf8(EnvironmentVariable(L"TEMP").value_or(L"")),
      "info default temp is ready",
      "info Vantic process not exist",
      "info create ForceInstall.file",
      "info create Report.file",
      "info RegOpenKeyEx Error: 2",
      "info start exe " + std::to_string(port) + " ...",
      "info starter temp: 1",
      LaunchLine("-Djava.net.preferIPv4Stack=true"),
      "info CreateProcess succeeds",
      "info end",
      "info check case..."};
  lines.insert(lines.end(), rest.begin(), rest.end());
  return lines;
}

class RunModes : public StarterTest {};

TEST_F(RunModes, NoArgumentsWaitsForPortProcessAndMarkerThenReportsSuccess) {
  StarterOutcome run = RunStarter({});
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.exit_code, 0u);
  EXPECT_EQ(run.process.standard_output, kSuccess);
  std::optional<std::uint32_t> port = StoredServerPort();
  ASSERT_TRUE(port.has_value());
  EXPECT_GE(*port, 9673u);
  EXPECT_LE(*port, 9700u);
  EXPECT_THAT(run.log, ElementsAreArray(Concat(PreparationLines({}, *port),
                                               {"info Case no args, check port,process and file",
                                                std::string("info OUTPUT->") + kSuccess, "info [ END ]\n"})));
  EXPECT_EQ(ReadFileBytes(InstallMarker()), "ForceInstall\r\n");
  EXPECT_EQ(ReadFileBytes(ReportMarker()), "Report\r\n");
  // The service received the line byte for byte: an empty program token, the
  // options and the quoted jar.
  std::string root = StarterTest::Utf8(ProgramFiles());
  EXPECT_THAT(RecordedCommandLines(),
              ElementsAre(" -Djava.net.preferIPv4Stack=true -jar \"" + root +
                          "\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar\""));
}

struct ModeCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* first_line;  // nullptr: no mode line
  bool prints;
  friend void PrintTo(const ModeCase& mode, std::ostream* out) { *out << mode.name; }
};

class EachCaller : public StarterTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(EachCaller, LaunchesAlwaysAndReportsAsItsModeSays) {
  const ModeCase& mode = GetParam();
  StarterOutcome run = RunStarter(mode.arguments);
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.exit_code, 0u);
  EXPECT_EQ(run.process.standard_output, mode.prints ? kSuccess : "");
  std::vector<std::string> tail;
  if (mode.first_line) tail.push_back(std::string("info ") + mode.first_line);
  if (mode.prints) tail.push_back(std::string("info OUTPUT->") + kSuccess);
  tail.push_back("info [ END ]\n");
  EXPECT_THAT(run.log, ElementsAreArray(Concat(PreparationLines(mode.arguments, *StoredServerPort()), tail)));
  EXPECT_TRUE(WaitFor([&] { return RecordedCommandLines().size() == 1; }));
}

INSTANTIATE_TEST_SUITE_P(
    Callers, EachCaller,
    ::testing::Values(
        ModeCase{"OneArgument", {"--BrandleAgent"}, "Case no args, check port,process and file", true},
        ModeCase{"Port", {"--Dravel", "Brimvale", "extra", "more"}, "Case --Dravel Brimvale, check port", true},
        ModeCase{"Dravel", {"--BrandleAgent", "Dravel"}, "Case --BrandleAgent Dravel, check process and file", true},
        ModeCase{"Selkan", {"--BrandleAgent", "Selkan"}, "Case --BrandleAgent Dravel, check process and file", true},
        ModeCase{"UninstallReport", {"--BrandleAgent", "UninstallReport"}, "Case --BrandleAgent UninstallReport", false},
        ModeCase{"UnknownPair", {"--Dravel", "Selkan"}, nullptr, false},
        ModeCase{"OtherLetterCase", {"--brandleagent", "Dravel"}, nullptr, false}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

// Four callers at once, with a service that never listens and never writes
// its marker: each waiting mode runs out of polls and prints its own line.
TEST_F(RunModes, EveryWaitingModeTimesOutWithItsOwnLine) {
  const Environment silent = {{L"STANDIN_NO_LISTEN", L"1"}, {L"STANDIN_NO_MARKER", L"1"}};
  struct Caller {
    std::vector<std::string> arguments;
    const char* expected;
    const char* last_failed;  // the check that failed in the last poll
    StarterOutcome run;
  };
  std::vector<Caller> callers = {
      {{}, R"({"Dravel":1,"Selkan":1})", "port not LISTENING", {}},
      {{"--Dravel", "Brimvale"}, R"({"Dravel":1,"Selkan":0})", "port not LISTENING", {}},
      {{"--BrandleAgent", "Dravel"}, R"({"Dravel":0,"Selkan":1})", "WsClientConnected.json not Exist", {}},
      {{"--BrandleAgent", "Selkan"}, R"({"Dravel":0,"Selkan":1})", "WsClientConnected.json not Exist", {}}};
  std::vector<std::thread> threads;
  for (Caller& caller : callers)
    threads.emplace_back([&] { caller.run = RunStarter(caller.arguments, silent); });
  for (std::thread& thread : threads) thread.join();
  for (const Caller& caller : callers) {
    ASSERT_TRUE(caller.run.process.finished);
    EXPECT_EQ(caller.run.process.exit_code, 0u);
    EXPECT_EQ(caller.run.process.standard_output, caller.expected);
    EXPECT_GE(caller.run.process.seconds, 19.0);  // 200 polls, 100 ms apart
    EXPECT_EQ(caller.run.log.back(), "info [ END ]\n");
    EXPECT_THAT(caller.run.log[caller.run.log.size() - 2], HasSubstr(std::string("OUTPUT->") + caller.expected));
    EXPECT_EQ(caller.run.log[caller.run.log.size() - 3], std::string("info wait ended: ") + caller.last_failed);
  }
}

TEST_F(RunModes, AServiceThatListensLateButWithinTheWindowIsReported) {
  StarterOutcome run = RunStarter({"--Dravel", "Brimvale"}, {{L"STANDIN_LISTEN_DELAY_MS", L"2500"}});
  EXPECT_EQ(run.process.standard_output, kSuccess);
  EXPECT_GE(run.process.seconds, 2.4);
  EXPECT_LT(run.process.seconds, 15.0);
}

TEST_F(RunModes, AServiceFromAnEarlierRunKeepsItsMarkerAndIsLaunchedAgain) {
  ASSERT_EQ(RunStarter({}).process.standard_output, kSuccess);
  ASSERT_TRUE(PathExists(ConnectedMarker()));
  // The second service never writes a marker: success can only come from the first one's.
  StarterOutcome second = RunStarter({"--BrandleAgent", "Dravel"}, {{L"STANDIN_NO_MARKER", L"1"}});
  EXPECT_EQ(second.process.standard_output, kSuccess);
  EXPECT_LT(second.process.seconds, 10.0);
  EXPECT_THAT(second.log, ::testing::Not(::testing::Contains("info Vantic process not exist")));
  EXPECT_THAT(second.log, ::testing::Not(::testing::Contains("info create ForceInstall.file")));
  EXPECT_TRUE(PathExists(ConnectedMarker()));
  EXPECT_TRUE(WaitFor([&] { return RecordedCommandLines().size() == 2; }));
}

// Without a usable TEMP the probe tries five times and the service is told
// to keep its temporary files in the fixed folder.
TEST_F(RunModes, AnUnusableTempSelectsTheFixedTempFolderForTheService) {
  for (const std::optional<std::wstring>& temp : {std::optional<std::wstring>(), std::optional<std::wstring>(L"")}) {
    StarterOutcome run = RunStarter({"--BrandleAgent", "UninstallReport"}, {{L"TEMP", temp}});
    std::vector<std::string> expected;
    for (int attempt = 0; attempt < 5; ++attempt) {
      expected.push_back("info start");
      expected.push_back("info TEMP empty");
    }
    expected.push_back("info default temp is not ready");
    auto first = std::find(run.log.begin(), run.log.end(), "info start");
    ASSERT_LE(expected.size(), static_cast<size_t>(run.log.end() - first));
    EXPECT_EQ(std::vector<std::string>(first, first + static_cast<long>(expected.size())), expected);
    EXPECT_THAT(run.log, ::testing::Contains("info starter temp: 0"));
    EXPECT_GE(run.process.seconds, 0.5);
  }
  const std::string options =
      "-Djava.net.preferIPv4Stack=true -Djava.io.tmpdir=\"C:\\Windows\\Temp\" -Djna.tmpdir=\"C:\\Windows\\Temp\"";
  EXPECT_TRUE(WaitFor([&] { return RecordedCommandLines().size() == 2; }));
  for (const std::string& line : RecordedCommandLines())
    EXPECT_EQ(line, " " + options + " -jar \"" + StarterTest::Utf8(ProgramFiles()) +
                        "\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar\"");
}

// The service outlives the starter and must not hold on to what its caller
// gave the starter: it starts detached (no console, even when the starter
// shares its caller's), inherits no handle (an output pipe held by the
// service would keep a caller reading until the service ends) and stands in
// the caller's folder.
TEST_F(RunModes, TheServiceStartsDetachedInheritingNothingInTheCallersFolder) {
  ::FreeConsole();  // whatever the test was run from: a console of its own, for the starter to share
  ASSERT_TRUE(::AllocConsole());
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  const platform::UniqueHandle event(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  const std::wstring report = ScratchDir() + L"\\service_" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
  ::DeleteFileW(report.c_str());
  const std::wstring event_value = std::to_wstring(reinterpret_cast<std::uintptr_t>(event.get()));
  StarterOutcome run = RunStarter({"--BrandleAgent", "UninstallReport"},
                                  {{L"STANDIN_SELF_REPORT", report}, {L"STANDIN_SET_EVENT", event_value}});
  ASSERT_TRUE(run.process.finished);
  ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(report).find("folder: ") != std::string::npos; }));
  wchar_t folder[MAX_PATH] = {};
  ASSERT_NE(::GetCurrentDirectoryW(MAX_PATH, folder), 0u);
  EXPECT_EQ(ReadFileBytes(report), "console: none\nfolder: " + Utf8(folder) + "\n");
  EXPECT_EQ(::WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the service inherited a handle";
  ::DeleteFileW(report.c_str());
}

TEST_F(RunModes, AMissingRuntimeIsLoggedAndTheWaitRunsOut) {
  ASSERT_TRUE(::DeleteFileW(JavaExe().c_str()));
  StarterOutcome run = RunStarter({"--BrandleAgent", "Selkan"});
  EXPECT_EQ(run.process.exit_code, 0u);
  EXPECT_EQ(run.process.standard_output, R"({"Dravel":0,"Selkan":1})");
  EXPECT_THAT(run.log, ::testing::Contains("warning CreateProcess GLE=2"));
  EXPECT_THAT(run.log, ::testing::Not(::testing::Contains("info end")));
  EXPECT_THAT(run.log, ::testing::Not(::testing::Contains("info CreateProcess succeeds")));
}

}  // namespace
}  // namespace starter::test
