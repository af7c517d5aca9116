// The fault driver: each scenario's test build runs once to count its calls,
// then once per planned (function, call, failure), and each injected run must
// still keep the run's promises:
//   - the starter: exit code 0; standard output exactly one of its mode's
//     lines, or nothing in the modes that print nothing; the success line
//     only while the service is ready; the end within the run's limit; a log
//     from [ START ] to one [ END ] whose OUTPUT-> line is the line printed,
//     or is followed by the warning that the line was not delivered;
//     markers whole, ServerPort a service port, each one missing after the
//     run named in a warning of its log;
//   - the status program: its exit code for the state or 4 (unknown) with
//     its reason (a failed read is never an answer), never a crash; a report printed; within its 10 s; the
//     machine left exactly as it was.
// STARTER_FAULT_EXTENT=whole runs every scenario at the whole extent
// (fault_plan.h); otherwise the sample runs: three scenarios, sampled.
// Each violation names the call, the failure and the run's output and log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <map>

#include "contract/product_contract.h"
#include "contract/run_log.h"
#include "fault/fault_support_win.h"
#include "platform/handles.h"
#include "platform/winsock.h"
#include "support/starter_run.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using contract::CallerMode;

enum class Program { kStarter, kStatus };

struct Scenario {
  const char* name;
  Program program;
  std::vector<std::string> arguments;
  bool service_ready;  // a ready service runs before the run; else nothing runs
  bool in_sample;
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

const Scenario kScenarios[] = {
    {"FirstRunWithNoService", Program::kStarter, {}, false, false},
    {"ReadyServiceNoArgument", Program::kStarter, {}, true, false},
    {"ReadyServicePort", Program::kStarter, {"--Dravel", "Brimvale"}, true, false},
    {"ReadyServiceProcessAndFile", Program::kStarter, {"--BrandleAgent", "Dravel"}, true, false},
    {"ReadyServiceUninstallReport", Program::kStarter, {"--BrandleAgent", "UninstallReport"}, true, true},
    {"ReadyServiceOtherMode", Program::kStarter, {"--BrandleAgent", "Other"}, true, false},
    {"StatusText", Program::kStatus, {}, true, true},
    {"StatusJson", Program::kStatus, {"--json"}, true, false},
    {"StatusHistory", Program::kStatus, {"--history"}, true, true},
};

// Found here and not mended (docs/emulators.md says why). Matched by
// function, at one call or any, and by failure when one is named.
struct KnownCase {
  Program program;
  const char* function;
  const char* failure;  // null: every failure of the function
  bool staying_only;    // only a failure from its call on (":from")
  const char* what;
  unsigned call = 0;    // 0: any call
};
const KnownCase kUnmendedCases[] = {
    // The runtime's and the programs' first allocations, before a run can
    // claim its end or the status program can start its looking: the
    // runtime's start-up crashes, or std::bad_alloc escapes main (exit 3).
    {Program::kStarter, "malloc", nullptr, false, "unmended: an allocation refused at start-up", 1},
    {Program::kStarter, "calloc", nullptr, false, "unmended: an allocation refused at start-up", 1},
    {Program::kStarter, "calloc", nullptr, false, "unmended: an allocation refused at start-up", 6},
    {Program::kStarter, "realloc", nullptr, false, "unmended: an allocation refused at start-up", 1},
    {Program::kStatus, "malloc", nullptr, false, "unmended: an allocation refused at start-up", 1},
    {Program::kStatus, "calloc", nullptr, false, "unmended: an allocation refused at start-up", 9},
    {Program::kStatus, "realloc", nullptr, false, "unmended: an allocation refused at start-up", 1},
    {Program::kStatus, "realloc", nullptr, false, "unmended: an allocation refused at start-up", 3},
    {Program::kStatus, "OpenProcess", nullptr, true, "unmended: unexaminable processes read as not running"},
    {Program::kStatus, "ReadProcessMemory", nullptr, true, "unmended: unexaminable processes read as not running"},
    {Program::kStatus, "NtQueryInformationProcess", nullptr, true, "unmended: unexaminable processes read as not running"},
    {Program::kStatus, "GetProcAddress", nullptr, true, "unmended: unexaminable processes read as not running"},
    {Program::kStatus, "GetProcessTimes", nullptr, true, "unmended: processes without a start time read as ended"},
};

// Injected runs that found a fault since mended: each runs whenever its
// scenario does, whatever the plan holds.
struct KeptCase {
  const char* scenario;
  fault::Injection injection;
  const char* mend;
};
const KeptCase kKeptCases[] = {
    {"ReadyServiceUninstallReport", {"GetFileAttributesW", 4, "ERROR_ACCESS_DENIED", false},
     "a marker whose attributes cannot be read was skipped unsaid: the log now says so"},
    {"ReadyServiceUninstallReport", {"WriteFile", 7, "ERROR_DISK_FULL", false},
     "a marker whose write failed was left empty, and no later run wrote it: it is now removed"},
    {"ReadyServicePort", {"GetStdHandle", 1, "ERROR_INVALID_HANDLE", false},
     "a line standard output did not take was logged as printed and nothing more: the log now says it was not "
     "delivered"},
    {"StatusText", {"GetFileAttributesExW", 3, "ERROR_ACCESS_DENIED", false},
     "an unreadable connected marker was judged \"WsClientConnected.json not Exist\": the verdict is now unknown, "
     "naming the read"},
    {"StatusText", {"RegOpenKeyExW", 1, "ERROR_ACCESS_DENIED", false},
     "an unreadable ServerPort was judged as no port stored: the verdict is now unknown, naming the failed read"},
    {"StatusText", {"RegQueryValueExW", 1, "ERROR_ACCESS_DENIED", false},
     "an unreadable ServerPort was judged as no port stored: the verdict is now unknown, naming the failed read"},

};

// The plan with the scenario's kept cases it lacks.
std::vector<fault::Injection> WithKeptCases(std::vector<fault::Injection> plan, const Scenario& scenario) {
  for (const KeptCase& kept : kKeptCases) {
    const bool planned = std::any_of(plan.begin(), plan.end(), [&kept](const fault::Injection& injection) {
      return injection.Name() == kept.injection.Name();
    });
    if (std::string_view(kept.scenario) == scenario.name && !planned) plan.push_back(kept.injection);
  }
  return plan;
}

bool Matches(const KnownCase& known, Program program, const fault::Injection& injection) {
  return known.program == program && injection.function == known.function &&
         (known.call == 0 || injection.call == known.call) &&
         (!known.failure || injection.failure == known.failure) && (!known.staying_only || injection.from);
}

const KnownCase* KnownCaseOf(Program program, const fault::Injection& injection) {
  for (const KnownCase& known : kUnmendedCases)
    if (Matches(known, program, injection)) return &known;
  return nullptr;
}

constexpr std::uint16_t kServicePort = 9673;
constexpr auto kExitSlack = std::chrono::seconds(5);
constexpr std::chrono::seconds kStatusLimit{10};

bool OneOf(const std::string& function, std::initializer_list<const char*> functions) {
  return std::any_of(functions.begin(), functions.end(), [&function](const char* name) { return function == name; });
}

// The calls that write the status program's report: one failing explains a
// report that is not there.
bool WritesTheReport(const std::string& function) {
  return OneOf(function, {"fwrite", "fflush", "WriteFile", "WriteConsoleW"});
}

// The calls that open, check and write the starter's log: one failing
// explains a line of the run lost, its first or its last among them.
bool WritesTheLog(const std::string& function) {
  return OneOf(function, {"CreateDirectoryW", "CreateFileW", "NtCreateFile", "GetFileAttributesW",
                          "GetFileInformationByHandleEx", "GetFileSizeEx", "CreateMutexW", "WriteFile",
                          "SetFileInformationByHandle", "NtSetInformationFile"});
}

bool SaysNotThere(const std::string& failure) {
  return OneOf(failure, {"ERROR_FILE_NOT_FOUND", "ERROR_PATH_NOT_FOUND", "ENOENT"});
}

// Whether the run's log says that its line did not reach its caller.
bool SaysNotDelivered(const std::vector<std::string>& log) {
  const std::string warning = "warning " + std::string(contract::kNotDeliveredWords);
  return std::any_of(log.begin(), log.end(), [&warning](const std::string& line) { return line.rfind(warning, 0) == 0; });
}

// Problems a failed call explains: the log's lost line; the line not
// printed, which the run's log must then say, unless the call failing from
// then on took the log's writes with it.
bool Explained(const std::string& problem, const std::optional<fault::Injection>& injection,
               const std::vector<std::string>& log) {
  const bool lost_line = problem == "the run has no [ END ]" || problem == "the run's first line is not [ START ]";
  const bool not_printed =
      problem == "printed no line of its mode" || problem == "an OUTPUT-> line for a run that printed nothing";
  const bool log_lost = injection && injection->from && WritesTheLog(injection->function);
  return injection && ((lost_line && WritesTheLog(injection->function)) ||
                       (not_printed && (SaysNotDelivered(log) || log_lost)));
}

bool IsListening(std::uint16_t port) {
  const platform::UniqueSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(port);
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  return client && ::connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

std::string Quoted(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) text += " " + argument;
  return text;
}

// What the machine holds that a run may change: read before and after.
struct Machine {
  std::optional<std::uint32_t> port_64, port_32;
  std::map<std::wstring, std::string> files;  // the install tree's files and their bytes
  std::string log;
  bool operator==(const Machine& other) const {
    return port_64 == other.port_64 && port_32 == other.port_32 && files == other.files && log == other.log;
  }
};

Machine ReadMachine() {
  Machine machine{StoredServerPort(RegistryView::k64Bit), StoredServerPort(RegistryView::k32Bit), {},
                  ReadFileBytes(StarterTest::LogFile())};
  std::error_code ignored;
  for (fs::recursive_directory_iterator it(StarterTest::ProgramFiles() + L"\\norvik", ignored), end; it != end;
       it.increment(ignored))
    if (it->is_regular_file(ignored)) machine.files[it->path().wstring()] = ReadFileBytes(it->path().wstring());
  return machine;
}

// One run of a test build and what it left.
struct Outcome {
  ProcessOutcome process;
  std::vector<std::string> log;  // the starter's run; the status program writes none
  std::optional<fault::CountFile> counts;
  std::vector<std::string> violations;
};

class FaultMatrix : public StarterTest, public ::testing::WithParamInterface<Scenario> {
 protected:
  void SetUp() override {
    StarterTest::SetUp();
    starter_exe_ = FaultBuildOf(StarterExe());
  }

  // The machine as the scenario starts from it.
  void Prepare() {
    StarterTest::SetUp();
    if (!GetParam().service_ready) return;
    ASSERT_TRUE(StoreServerPort(kServicePort));
    StartService();
    if (GetParam().program != Program::kStatus) return;
    // The status program reads a log with a run in it, and reports the
    // service as starting until the newest one is older than a whole wait:
    // its runs start once the shipped program reports it ready.
    const std::wstring fault_build = starter_exe_;
    starter_exe_ = StarterExe();
    ASSERT_EQ(RunStarter({"--Dravel", "Brimvale"}).process.standard_output, kSuccess);
    starter_exe_ = fault_build;
    const std::wstring status = L"\"" + StatusExe() + L"\"";
    ASSERT_TRUE(WaitFor([&] { return RunProcess(StatusExe(), status).exit_code == 0; }, 40000));
  }

  // The stand-in as the starter launches it, ready once its marker is there.
  // It and the ones the runs launch live past the scenario (its teardown ends them).
  void StartService() {
    ::SetEnvironmentVariableW(L"STANDIN_LIFETIME_MS", L"3600000");
    const std::wstring jar = VanticDir() + L"\\Vantic.jar";
    std::wstring command = L"\"" + JavaExe() + L"\" -Djava.net.preferIPv4Stack=true -jar \"" + jar + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(JavaExe().c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &info));
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    ASSERT_TRUE(WaitFor([] { return PathExists(ConnectedMarker()) && IsListening(kServicePort); }));
  }

  Outcome Run(const std::optional<fault::Injection>& injection) {
    ::DeleteFileW(CountFilePath().c_str());
    Outcome outcome;
    const Scenario& scenario = GetParam();
    if (scenario.program == Program::kStarter) {
      StarterOutcome run = RunStarter(scenario.arguments, FaultEnvironment(injection));
      outcome.process = run.process;
      outcome.log = run.log;
      CheckStarter(outcome, injection);
    } else {
      const Machine before = ReadMachine();
      const std::wstring program = FaultBuildOf(StatusExe());
      ProcessOptions options;
      options.environment = FaultEnvironment(injection);
      const std::string arguments = Quoted(scenario.arguments);
      outcome.process = RunProcess(program, L"\"" + program + L"\"" + std::wstring(arguments.begin(), arguments.end()),
                                   options);
      CheckStatus(outcome, before, injection);
    }
    outcome.counts = ReadCounts();
    return outcome;
  }

  void CheckStarter(Outcome& outcome, const std::optional<fault::Injection>& injection) {
    const Scenario& scenario = GetParam();
    std::vector<const char*> argv = {"starter"};
    for (const std::string& argument : scenario.arguments) argv.push_back(argument.c_str());
    const CallerMode mode = contract::ClassifyCallerMode(static_cast<int>(argv.size()), argv.data());
    const char* timeout_line = contract::TimeoutLine(mode);
    const std::string& printed = outcome.process.standard_output;
    std::vector<std::string>& violations = outcome.violations;
    CheckEnded(outcome, contract::RunLimit(mode));
    if (outcome.process.exit_code != 0) violations.push_back("exit code " + std::to_string(outcome.process.exit_code));
    if (!timeout_line && !printed.empty()) violations.push_back("printed in a mode that prints nothing");
    if (timeout_line && printed != timeout_line && printed != kSuccess &&
        !Explained("printed no line of its mode", injection, outcome.log))
      violations.push_back("printed no line of its mode");
    if (timeout_line && printed == kSuccess && !ServiceReady(mode)) violations.push_back("success while not ready");
    for (const std::string& problem : fault::LogProblems(outcome.log, printed))
      if (!Explained(problem, injection, outcome.log)) violations.push_back(problem);
    CheckLeftBehind(outcome, injection);
  }

  // Whether the service is ready as `mode` checks it.
  bool ServiceReady(CallerMode mode) {
    const std::optional<std::uint32_t> port = StoredServerPort();
    const bool listening = port && contract::IsServicePort(*port) && IsListening(static_cast<std::uint16_t>(*port));
    const bool running = CountProcessesNamed(L"java.exe") > 0 && PathExists(ConnectedMarker());
    if (mode == CallerMode::kPort) return listening;
    if (mode == CallerMode::kProcessAndFile) return running;
    return listening && running;
  }

  // The starter's markers whole, its port a service port, and what is
  // missing named in a warning of the run's log.
  // A run whose log could not be opened at all had nowhere to warn.
  void CheckLeftBehind(Outcome& outcome, const std::optional<fault::Injection>& injection) {
    const bool unlogged = outcome.log.empty() && injection && WritesTheLog(injection->function);
    const bool warned = unlogged || std::any_of(outcome.log.begin(), outcome.log.end(), [](const std::string& line) {
                          return line.rfind("warning ", 0) == 0;
                        });
    for (const contract::MarkerFile& marker : contract::kMarkerFiles) {
      if (marker.writer != contract::MarkerWriter::kStarter) continue;
      const std::wstring path = VanticDir() + L"\\" + contract::Widen(marker.name);
      if (PathExists(path) && ReadFileBytes(path) != marker.content)
        outcome.violations.push_back(std::string(marker.name) + " holds \"" + ReadFileBytes(path) + "\"");
      if (!PathExists(path) && !warned) outcome.violations.push_back(std::string(marker.name) + " missing, unwarned");
    }
    const std::optional<std::uint32_t> port = StoredServerPort();
    if (port && *port != 0 && !contract::IsServicePort(*port))
      outcome.violations.push_back("ServerPort " + std::to_string(*port));
    // The port selection logs a refused write as "write ServerPort error".
    const bool write_logged = std::any_of(outcome.log.begin(), outcome.log.end(), [](const std::string& line) {
      return line.rfind("info write ServerPort", 0) == 0;
    });
    if (!port && !warned && !write_logged) outcome.violations.push_back("ServerPort missing, unwarned");
  }

  // A failed read is "cannot tell": exit code 4 with its reason, never a
  // state that claims to know. A failure that says a file or key is not
  // there is an answer: the state is then the one without it, whichever
  // that is.
  void CheckStatus(Outcome& outcome, const Machine& before, const std::optional<fault::Injection>& injection) {
    CheckEnded(outcome, kStatusLimit);
    const std::uint32_t code = outcome.process.exit_code;
    const std::string& printed = outcome.process.standard_output;
    const bool not_there = injection && SaysNotThere(injection->failure);
    const bool documented = code == 0 || code == 1 || code == 3 || code == 4;
    if (code != expected_exit_code_ && code != 4 && !(not_there && documented))
      outcome.violations.push_back("exit code " + std::to_string(code));
    if (printed.empty() && !(injection && WritesTheReport(injection->function)))
      outcome.violations.push_back("printed nothing");
    const bool reason = printed.find("unknown") != std::string::npos || printed.find("not read") != std::string::npos ||
                        printed.find("cannot be read") != std::string::npos;
    if (code == 4 && expected_exit_code_ != 4 && !printed.empty() && !reason && !not_there)
      outcome.violations.push_back("exit code 4 without its reason");
    if (!(ReadMachine() == before)) {
      outcome.violations.push_back("changed the machine");
      Prepare();
    }
  }

  void CheckEnded(Outcome& outcome, std::chrono::seconds limit) {
    if (!outcome.process.finished) outcome.violations.push_back("did not end");
    if (outcome.process.seconds > std::chrono::duration<double>(limit + kExitSlack).count())
      outcome.violations.push_back("ended after " + std::to_string(outcome.process.seconds) + " s");
  }

  std::string Report(const std::string& what, const Outcome& outcome) {
    std::string text = GetParam().name + std::string(": ") + what + "\n  violations:";
    for (const std::string& violation : outcome.violations) text += " [" + violation + "]";
    text += "\n  exit code " + std::to_string(outcome.process.exit_code) + " after " +
            std::to_string(outcome.process.seconds) + " s; output: \"" + outcome.process.standard_output + "\"\n  log:\n";
    for (const std::string& line : outcome.log) text += "    " + line + "\n";
    return text;
  }

  std::uint32_t expected_exit_code_ = 0;
  platform::WinsockSession winsock_;
};

fault::Extent ExtentOfThisRun() {
  return EnvironmentVariable(L"STARTER_FAULT_EXTENT") == L"whole" ? fault::Extent::kWhole : fault::Extent::kSample;
}

TEST_P(FaultMatrix, EachInjectedFailureKeepsTheRunsPromises) {
  const Scenario& scenario = GetParam();
  const fault::Extent extent = ExtentOfThisRun();
  if (extent == fault::Extent::kSample && !scenario.in_sample) GTEST_SKIP() << "not in the sample";
  const auto started = std::chrono::steady_clock::now();
  ASSERT_NO_FATAL_FAILURE(Prepare());
  const Outcome counted = Run(std::nullopt);
  ASSERT_TRUE(counted.counts.has_value());
  expected_exit_code_ = counted.process.exit_code;
  if (scenario.program == Program::kStarter && !counted.process.standard_output.empty())
    ASSERT_EQ(counted.process.standard_output, kSuccess) << Report("the counting run", counted);
  ASSERT_TRUE(counted.violations.empty()) << Report("the counting run", counted);

  const std::vector<fault::CalledFunction> called = CalledFunctions(*counted.counts);
  const std::vector<fault::Injection> plan = WithKeptCases(fault::PlanInjections(called, extent), scenario);
  long calls = 0;
  for (const fault::CalledFunction& function : called) calls += static_cast<long>(function.calls);
  int runs = 0, violations = 0, unreached = 0, known = 0;
  for (const fault::Injection& injection : plan) {
    if (const KnownCase* known_case = KnownCaseOf(scenario.program, injection)) {
      ++known;
      std::printf("known: %s %s: %s\n", scenario.name, injection.Name().c_str(), known_case->what);
      continue;
    }
    if (scenario.program == Program::kStarter) ASSERT_NO_FATAL_FAILURE(Prepare());
    const Outcome outcome = Run(injection);
    ++runs;
    const int row = fault::RowNamed(injection.function);
    if (outcome.counts && outcome.counts->calls[row] < static_cast<long>(injection.call)) ++unreached;
    if (outcome.violations.empty()) continue;
    ++violations;
    ADD_FAILURE() << Report(injection.Name(), outcome);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("fault matrix %s: %zu functions called, %ld calls, %d injected runs (%d not reached, %d known cases "
              "left out), %d violations, %.0f s\n",
              scenario.name, called.size(), calls, runs, unreached, known, violations, seconds);
}

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultMatrix, ::testing::ValuesIn(kScenarios), ScenarioName);

}  // namespace
}  // namespace starter::test
