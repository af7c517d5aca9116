// The fault driver: each scenario's test build runs once to count its calls,
// which must give the scenario's own answer (its line or exit code), then once
// per planned (function, call, failure), and each injected run must keep the
// run's promises, every excuse resting on evidence in the run itself:
//   - the starter: exit code 0; standard output one of its mode's lines, or
//     nothing in the modes that print nothing; the success line only while
//     the service is ready; the timeout line only with the log's
//     "wait ended:" reason or a warning that names what failed; the end within
//     the run's limit; every line of the log this run's and well formed,
//     from [ START ] to one [ END ], whose OUTPUT-> line is the line printed;
//     markers whole, ServerPort a service port, each one missing after the
//     run named in a line of its log;
//   - the status program: its exit code for the state, or 4 (unknown) or 1
//     with a reason that names what it was reading, never a crash; a report
//     printed; within its 10 s; the machine left exactly as it was.
// A line the log lost is excused only when the run said on standard error
// that its log failed, and the failed call was where that line belonged (the
// injector keeps the log's size when it fails a call). A line not printed is
// excused only when the call failed right before its OUTPUT-> line.
// STARTER_FAULT_EXTENT=whole runs every scenario at the whole extent
// (fault_plan.h); otherwise the sample runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>

#include "contract/product_contract.h"
#include "contract/run_log.h"
#include "fault/fault_support_win.h"
#include "platform/handles.h"
#include "platform/winsock.h"
#include "support/port_env.h"
#include "support/starter_run.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using contract::CallerMode;

enum class Program { kStarter, kStatus };

// What runs on the machine before each run.
enum class Setting {
  kNothing,             // no service; the starter launches the stand-in, which gets ready
  kReadyService,        // a ready service
  kServiceRanBefore,    // a ready service, and the markers a run before it left
  kOtherListener,       // another program listens on the stored port; no java.exe to launch
  kServiceNeverConnects,  // the stand-in the starter launches listens but never writes its marker
};

// What of a scenario's plan the sample runs. Each failure at its first and
// at its last call, and the first failure from the first call on, are shared
// out between the scenarios of a program (a waiting mode's takes no failure
// that stays, which would make each of its runs wait out the wait), so that
// each is run in some scenario and the sample stays short. A scenario whose runs wait out the
// whole wait pays it for each injected run: it fails only the calls its line
// rests on (`rests_on`), in the sample only the first failure from the
// first call on; the whole matrix runs the rest of every scenario's plan.
enum class Sampled { kNo, kFirstCalls, kLastCalls, kStaying, kWaitingOut };

struct Scenario {
  const char* name;
  Program program;
  std::vector<std::string> arguments;
  Setting setting;
  std::string line;  // what the starter prints when nothing fails; the status program: its exit code
  Sampled sampled;
  std::vector<std::string> rests_on = {};
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

const std::string kPortTimeout = contract::TimeoutLine(CallerMode::kPort);
const std::string kAllTimeout = contract::TimeoutLine(CallerMode::kAllChecks);

const Scenario kScenarios[] = {
    {"FirstRunWithNoService", Program::kStarter, {}, Setting::kNothing, kSuccess, Sampled::kNo},
    {"ReadyServiceNoArgument", Program::kStarter, {}, Setting::kReadyService, kSuccess, Sampled::kNo},
    {"ReadyServicePort", Program::kStarter, {"--Dravel", "Brimvale"}, Setting::kServiceRanBefore, kSuccess,
     Sampled::kFirstCalls},
    // Success here is how a failed process walk showed as a false one.
    {"OtherListenerPort", Program::kStarter, {"--Dravel", "Brimvale"}, Setting::kOtherListener, kPortTimeout,
     Sampled::kWaitingOut,
     {"CreateToolhelp32Snapshot", "OpenProcess", "NtQueryInformationProcess", "GetExtendedTcpTable"}},
    {"NeverConnectsNoArgument", Program::kStarter, {}, Setting::kServiceNeverConnects, kAllTimeout,
     Sampled::kWaitingOut,
     {"CreateToolhelp32Snapshot", "ReadProcessMemory", "NtQueryInformationProcess", "GetFileAttributesW"}},
    {"ReadyServiceProcessAndFile", Program::kStarter, {"--BrandleAgent", "Dravel"}, Setting::kServiceRanBefore,
     kSuccess, Sampled::kLastCalls},
    {"ReadyServiceUninstallReport", Program::kStarter, {"--BrandleAgent", "UninstallReport"}, Setting::kReadyService,
     "", Sampled::kStaying},
    {"ReadyServiceOtherMode", Program::kStarter, {"--BrandleAgent", "Other"}, Setting::kReadyService, "", Sampled::kNo},
    {"StatusText", Program::kStatus, {}, Setting::kReadyService, "0", Sampled::kFirstCalls},
    {"StatusJson", Program::kStatus, {"--json"}, Setting::kReadyService, "0", Sampled::kLastCalls},
    {"StatusHistory", Program::kStatus, {"--history"}, Setting::kReadyService, "0", Sampled::kStaying},
};

// Found here and not mended (docs/emulators.md says why): each still runs,
// and one of the programs' that no longer breaks a promise fails the
// scenario, so none stays listed once mended. The runtime's may break none
// under one emulator: what its own calls allocate differs. Matched by
// program, the scenario's name (or its start) and function, at any call, and
// when `shows` is named, only by a run whose output holds it (a function
// called for several ends, known at one).
struct KnownCase {
  Program program;
  const char* scenarios;
  const char* function;
  bool staying_only;  // only a failure from its call on (":from")
  bool runtimes;
  const char* what;
  const char* shows = nullptr;
};
const KnownCase kUnmendedCases[] = {
    {Program::kStatus, "", "GetProcessTimes", false, false, "unmended: processes without a start time read as ended"},
    {Program::kStatus, "", "OpenProcess", false, false, "unmended: processes without a start time read as ended",
     "exe not Exist"},
    {Program::kStarter, "NeverConnects", "GetFileAttributesW", false, false,
     "unmended: a connected marker whose look is refused counts as there, and the wait answers success", kSuccess},
    // With every allocation refused, the first exception thrown takes
    // libstdc++'s emergency pool, whose mutex winpthreads makes on first use
    // with an allocation; refused, the lock throws, which takes the pool
    // again: the stack overflows.
    {Program::kStarter, "", "malloc", true, true, "the runtime's: an exception thrown with every allocation refused"},
    {Program::kStatus, "", "malloc", true, true, "the runtime's: an exception thrown with every allocation refused"},
};

// Injected runs that found a fault since mended, each run whenever its
// scenario runs, with the evidence that it still reaches what it guards: for
// the starter, the log's last line before the failed call; for the status
// program, words its report must hold.
struct KeptCase {
  const char* scenario;
  fault::Injection injection;
  const char* site;
  const char* mend;
};
const KeptCase kKeptCases[] = {
    {"ReadyServicePort", {"GetFileAttributesW", 3, "ERROR_ACCESS_DENIED", false}, "info default temp is ready",
     "a marker whose attributes cannot be read was skipped unsaid: the log now says so, and one there stays"},
    {"ReadyServiceUninstallReport", {"GetFileAttributesW", 4, "ERROR_ACCESS_DENIED", false},
     "info create ForceInstall.file",
     "a marker whose attributes cannot be read was skipped unsaid: the log now says so"},
    {"ReadyServiceUninstallReport", {"WriteFile", 7, "ERROR_DISK_FULL", false}, "info default temp is ready",
     "a marker whose write failed was left empty, and no later run wrote it: it is now removed"},
    {"StatusText", {"GetFileAttributesExW", 3, "ERROR_ACCESS_DENIED", false}, "WsClientConnected.json cannot be read",
     "an unreadable connected marker was judged \"WsClientConnected.json not Exist\": the verdict now names the read"},
    {"StatusText", {"RegOpenKeyExW", 1, "ERROR_ACCESS_DENIED", false}, "ServerPort cannot be read",
     "an unreadable ServerPort was judged as no port stored: the verdict now names the failed read"},
    {"StatusText", {"RegQueryValueExW", 1, "ERROR_ACCESS_DENIED", false}, "ServerPort cannot be read",
     "an unreadable ServerPort was judged as no port stored: the verdict now names the failed read"},
};

const KeptCase* KeptCaseOf(const Scenario& scenario, const fault::Injection& injection) {
  for (const KeptCase& kept : kKeptCases)
    if (scenario.name == std::string_view(kept.scenario) && injection.Name() == kept.injection.Name()) return &kept;
  return nullptr;
}

// Whether `scenario` runs `injection` of `function` at `extent`.
bool Runs(const Scenario& scenario, const fault::Injection& injection, const fault::CalledFunction& function,
          fault::Extent extent) {
  const auto& rests_on = scenario.rests_on;
  const bool rests = std::find(rests_on.begin(), rests_on.end(), injection.function) != rests_on.end();
  if (scenario.sampled == Sampled::kWaitingOut && !rests) return false;
  if (extent == fault::Extent::kWhole) return true;
  // A function called once has its last call run by the scenario that takes the first calls.
  const bool first = !injection.from && injection.call == 1;
  const bool last = !injection.from && injection.call == function.calls && function.calls > 1;
  switch (scenario.sampled) {
    case Sampled::kNo: return false;
    case Sampled::kFirstCalls: return first;
    case Sampled::kLastCalls: return last;
    case Sampled::kStaying: return injection.from;
    case Sampled::kWaitingOut: return injection.from && injection.failure == function.failures.front();
  }
  return false;
}

std::vector<fault::Injection> PlanOf(const Scenario& scenario, const std::vector<fault::CalledFunction>& called,
                                     fault::Extent extent) {
  std::vector<fault::Injection> plan;
  for (const fault::Injection& injection : fault::PlanInjections(called, extent)) {
    const auto function = std::find_if(called.begin(), called.end(),
                                       [&](const fault::CalledFunction& f) { return f.name == injection.function; });
    if (Runs(scenario, injection, *function, extent)) plan.push_back(injection);
  }
  for (const KeptCase& kept : kKeptCases)
    if (scenario.name == std::string_view(kept.scenario) &&
        std::none_of(plan.begin(), plan.end(),
                     [&kept](const fault::Injection& planned) { return planned.Name() == kept.injection.Name(); }))
      plan.push_back(kept.injection);
  return plan;
}

const KnownCase* KnownCaseOf(const Scenario& scenario, const fault::Injection& injection, const std::string& output) {
  for (const KnownCase& known : kUnmendedCases)
    if (known.program == scenario.program && std::string_view(scenario.name).rfind(known.scenarios, 0) == 0 &&
        injection.function == known.function && (!known.staying_only || injection.from) &&
        (!known.shows || output.find(known.shows) != std::string::npos))
      return &known;
  return nullptr;
}

constexpr std::uint16_t kServicePort = 9673;
constexpr auto kExitSlack = std::chrono::seconds(5);
constexpr std::chrono::seconds kStatusLimit{10};

bool Holds(const std::string& text, const char* words) { return text.find(words) != std::string::npos; }

// Whether the failure is an answer rather than a read that failed: a file or
// key that is not there, or a stored value that holds no DWORD (longer, or
// of another type), which is no port stored.
bool IsAnAnswer(const fault::Injection& injection) {
  const std::string& failure = injection.failure;
  const bool no_dword = injection.function == "RegQueryValueExW" &&
                        (failure == "ERROR_MORE_DATA" || failure == "ERROR_DATATYPE_MISMATCH");
  return no_dword || failure == "ERROR_FILE_NOT_FOUND" || failure == "ERROR_PATH_NOT_FOUND" || failure == "ENOENT";
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
  std::vector<std::string> log;  // every line of the starter's log, "? ..." when not a line of this run
  std::string errors;            // the starter's standard error
  long log_bytes_at_fault = fault::kNotFired;
  std::size_t log_bytes = 0;
  std::optional<fault::CountFile> counts;
  std::vector<std::string> violations;

  // The log's lines logged before the failed call.
  std::size_t LinesBeforeFault(const std::string& text) const {
    const std::string before = text.substr(0, static_cast<std::size_t>(std::max(0L, log_bytes_at_fault)));
    std::size_t lines = 0;
    for (std::size_t at = before.find("\r\n"); at != std::string::npos; at = before.find("\r\n", at + 2)) ++lines;
    return lines;
  }
};

class FaultMatrix : public StarterTest, public ::testing::WithParamInterface<Scenario> {
 protected:
  void SetUp() override {
    StarterTest::SetUp();
    starter_exe_ = FaultBuildOf(StarterExe());
    error_file_ = ScratchDir() + L"\\fault_errors_" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
  }

  // The machine as the scenario starts from it.
  void Prepare() {
    StarterTest::SetUp();
    listener_.reset();
    const Setting setting = GetParam().setting;
    if (setting == Setting::kOtherListener) {
      ASSERT_TRUE(StoreServerPort(kServicePort));
      ASSERT_TRUE(::DeleteFileW(JavaExe().c_str()));
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = ::htons(kServicePort);
      ASSERT_EQ(Listen(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), kServicePort);
    }
    ::SetEnvironmentVariableW(L"STANDIN_NO_MARKER", setting == Setting::kServiceNeverConnects ? L"1" : nullptr);
    // The stand-ins the runs launch live past them; Prepare and the teardown end them.
    ::SetEnvironmentVariableW(L"STANDIN_LIFETIME_MS", L"3600000");
    if (setting != Setting::kReadyService && setting != Setting::kServiceRanBefore) return;
    ASSERT_TRUE(StoreServerPort(kServicePort));
    StartService();
    // A run launches a stand-in of its own beside the ready one, which finds
    // the port taken: it ends soon, or they would pile up and slow each run's
    // process walk.
    ::SetEnvironmentVariableW(L"STANDIN_LIFETIME_MS", L"1000");
    for (const contract::MarkerFile& marker : contract::kMarkerFiles)
      if (marker.writer == contract::MarkerWriter::kStarter && setting == Setting::kServiceRanBefore)
        ASSERT_TRUE(WriteFileBytes(VanticDir() + L"\\" + contract::Widen(marker.name), marker.content));
    if (GetParam().program != Program::kStatus) return;
    // The status program reads a log with a run in it, and reports the
    // service as starting until the newest one is older than a whole wait:
    // its runs start once the shipped program reports it ready.
    const std::wstring fault_build = starter_exe_;
    starter_exe_ = StarterExe();
    ASSERT_EQ(RunStarter({"--Dravel", "Brimvale"}).process.standard_output, kSuccess);
    starter_exe_ = fault_build;
    // The stand-in that run launched beside the service ends first: each run
    // then walks the same processes, and reaches the calls its count names.
    ASSERT_TRUE(WaitFor([] { return CountProcessesNamed(L"java.exe") == 1; }));
    const std::wstring status = L"\"" + StatusExe() + L"\"";
    ASSERT_TRUE(WaitFor([&] { return RunProcess(StatusExe(), status).exit_code == 0; }, 40000));
  }

  // The stand-in as the starter launches it, ready once its marker is there.
  void StartService() {
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

  // The machine as `prepared` was, the cheap way when only files, the port
  // and the log changed; prepared anew when a process must be ended or started.
  void Restore(const Machine& prepared) {
    const bool service_up = PathExists(ConnectedMarker()) && IsListening(kServicePort);
    const bool ready = GetParam().setting == Setting::kReadyService || GetParam().setting == Setting::kServiceRanBefore;
    const bool launched = !ready && CountProcessesNamed(L"java.exe") > 0;
    if ((ready && !service_up) || launched) return Prepare();
    std::error_code ignored;
    fs::remove_all(L"C:\\Users\\Public\\Documents\\corvel", ignored);
    const Machine now = ReadMachine();
    for (const auto& [path, bytes] : now.files)
      if (!prepared.files.count(path)) ::DeleteFileW(path.c_str());
    for (const auto& [path, bytes] : prepared.files)
      if ((!now.files.count(path) || now.files.at(path) != bytes) && !WriteFileBytes(path, bytes)) return Prepare();
    if (now.port_64 != prepared.port_64 || now.port_32 != prepared.port_32) return Prepare();
  }

  Outcome Run(const std::optional<fault::Injection>& injection) {
    ::DeleteFileW(CountFilePath().c_str());
    Outcome outcome;
    const Scenario& scenario = GetParam();
    if (scenario.program == Program::kStarter) {
      outcome.process = RunStarter(scenario.arguments, FaultEnvironment(injection)).process;
      ReadRunLog(outcome);
    } else {
      const std::wstring program = FaultBuildOf(StatusExe());
      ProcessOptions options;
      options.environment = FaultEnvironment(injection);
      const std::string arguments = Quoted(scenario.arguments);
      outcome.process = RunProcess(program, L"\"" + program + L"\"" + std::wstring(arguments.begin(), arguments.end()),
                                   options);
    }
    outcome.counts = ReadCounts();
    if (outcome.counts) outcome.log_bytes_at_fault = outcome.counts->log_bytes_at_fault;
    return outcome;
  }

  // Every line of the log, each not of this run (another process's, or no
  // log line at all) marked "? ".
  void ReadRunLog(Outcome& outcome) {
    outcome.log_bytes = ReadFileBytes(LogFile()).size();
    outcome.errors = ReadFileBytes(error_file_);
    for (const LogLine& line : ReadLog()) {
      const bool ours = line.level.empty() || (line.level != "?" && line.process_id == outcome.process.process_id);
      outcome.log.push_back(ours ? line.Text() : "? " + line.message);
    }
  }

  void CheckStarter(Outcome& outcome, const Machine& before) {
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
    const bool not_printed = printed.empty() && (SaysNotDelivered(outcome) ||
                                                 FailedBefore(outcome, std::string(contract::kPrintedWords)));
    if (timeout_line && printed != timeout_line && printed != kSuccess && !not_printed)
      violations.push_back("printed no line of its mode");
    if (timeout_line && printed == kSuccess && !ServiceReady(mode)) violations.push_back("success while not ready");
    const bool reasoned =
        Logged(outcome, "info " + std::string(contract::kWaitEndedWords)) || Logged(outcome, "warning run ended ");
    if (timeout_line && printed == timeout_line && !reasoned && !LogLost(outcome, LostLine::kAny))
      violations.push_back("the timeout line with no reason logged");
    for (const std::string& problem : fault::LogProblems(outcome.log, printed))
      if (!Excused(problem, outcome)) violations.push_back(problem);
    CheckLeftBehind(outcome, before);
  }

  enum class LostLine { kFirst, kLast, kAny };

  // Whether the run reported its log's failure on standard error, and the
  // failed call was where a line of `kind` was lost: before the first line
  // (the log's open), or with nothing logged after it (the log's last lines).
  bool LogLost(const Outcome& outcome, LostLine kind) const {
    // The log's report names the file or the folder of it that failed, all within the public documents.
    const bool reported = Holds(outcome.errors, "LOG ERROR") && Holds(outcome.errors, "C:\\Users\\Public\\Documents");
    const long at = outcome.log_bytes_at_fault;
    const auto bytes_then = static_cast<std::size_t>(std::max(0L, at));
    const bool there = kind == LostLine::kFirst  ? bytes_then == 0
                       : kind == LostLine::kLast ? outcome.log_bytes == bytes_then
                                                 : true;
    return reported && at != fault::kNotFired && there;
  }

  // Whether the failed call came right before the log's line that starts with `words`.
  bool FailedBefore(const Outcome& outcome, const std::string& words) const {
    if (outcome.log_bytes_at_fault == fault::kNotFired) return false;
    const std::size_t before = outcome.LinesBeforeFault(ReadFileBytes(LogFile()));
    return before < outcome.log.size() && outcome.log[before].rfind("info " + words, 0) == 0;
  }

  bool Excused(const std::string& problem, const Outcome& outcome) const {
    if (problem == "the log is empty") return LogLost(outcome, LostLine::kFirst) && LogLost(outcome, LostLine::kLast);
    if (problem == "the run's first line is not [ START ]") return LogLost(outcome, LostLine::kFirst);
    if (problem == "the run has no [ END ]") return LogLost(outcome, LostLine::kLast);
    // The line's OUTPUT-> lost from a log that failed at it, or logged for a line whose write failed.
    if (problem == "the printed line has no OUTPUT-> line") return LogLost(outcome, LostLine::kAny);
    if (problem == "an OUTPUT-> line for a run that printed nothing")
      return SaysNotDelivered(outcome) || FailedBefore(outcome, std::string(contract::kPrintedWords));
    return false;
  }

  // Whether the run's log says its line did not reach its caller, and what failed.
  static bool SaysNotDelivered(const Outcome& outcome) {
    return Logged(outcome, "warning " + std::string(contract::kNotDeliveredWords));
  }
  static bool Logged(const Outcome& outcome, const std::string& start) {
    return std::any_of(outcome.log.begin(), outcome.log.end(),
                       [&start](const std::string& line) { return line.rfind(start, 0) == 0; });
  }
  static bool Names(const Outcome& outcome, const std::string& what) {
    return std::any_of(outcome.log.begin(), outcome.log.end(),
                       [&what](const std::string& line) { return line.find(what) != std::string::npos; });
  }

  // Whether the service is ready as `mode` checks it.
  bool ServiceReady(CallerMode mode) {
    const std::optional<std::uint32_t> port = StoredServerPort();
    const bool listening = port && contract::IsServicePort(*port) && IsListening(static_cast<std::uint16_t>(*port)) &&
                           GetParam().setting != Setting::kOtherListener;
    const bool running = CountProcessesNamed(L"java.exe") > 0 && PathExists(ConnectedMarker());
    if (mode == CallerMode::kPort) return listening;
    if (mode == CallerMode::kProcessAndFile) return running;
    return listening && running;
  }

  // The starter's markers whole, none of them there before gone, its port a
  // service port, and each one missing named in the run's log (or lost with
  // the log, or after a run that ended early).
  void CheckLeftBehind(Outcome& outcome, const Machine& before) {
    // A run that ended early said so, and that nothing after was done.
    const bool log_lost = LogLost(outcome, LostLine::kAny) || Logged(outcome, "warning run ended early");
    for (const contract::MarkerFile& marker : contract::kMarkerFiles) {
      if (marker.writer != contract::MarkerWriter::kStarter) continue;
      const std::wstring path = VanticDir() + L"\\" + contract::Widen(marker.name);
      if (PathExists(path) && ReadFileBytes(path) != marker.content)
        outcome.violations.push_back(std::string(marker.name) + " holds \"" + ReadFileBytes(path) + "\"");
      // Named, or every marker named at once ("marker files ... skipped").
      const bool warned = std::any_of(outcome.log.begin(), outcome.log.end(), [&marker](const std::string& line) {
        return line.rfind("warning ", 0) == 0 &&
               (line.find(marker.name) != std::string::npos || line.find("marker files") != std::string::npos);
      });
      if (!PathExists(path) && before.files.count(path))
        outcome.violations.push_back(std::string(marker.name) + " was there before the run and is gone");
      else if (!PathExists(path) && !warned && !log_lost)
        outcome.violations.push_back(std::string(marker.name) + " missing, unwarned");
    }
    const std::optional<std::uint32_t> port = StoredServerPort();
    if (port && *port != 0 && !contract::IsServicePort(*port))
      outcome.violations.push_back("ServerPort " + std::to_string(*port));
    const bool port_named =
        Names(outcome, "ServerPort") || Names(outcome, "RegCreateKeyEx") || Names(outcome, "RegSetKeyValue");
    if (!port && !port_named && !log_lost) outcome.violations.push_back("ServerPort missing, unwarned");
  }

  // A failure that is an answer (IsAnAnswer): the state is then the one
  // without what is not there, whichever that is.
  void CheckStatus(Outcome& outcome, const Machine& before, const fault::Injection& injection) {
    CheckEnded(outcome, kStatusLimit);
    const std::uint32_t code = outcome.process.exit_code;
    const std::uint32_t expected = static_cast<std::uint32_t>(std::stoi(GetParam().line));
    const std::string& printed = outcome.process.standard_output;
    const bool named = Holds(printed, "cannot be read") || Holds(printed, "cannot be examined") ||
                       Holds(printed, "failed while reading") || Holds(printed, "failed while writing") ||
                       Holds(printed, "is not read") || Holds(printed, "is unknown") ||
                       Holds(printed, "no answer in time from");
    const bool not_there = IsAnAnswer(injection);
    const bool documented = code == 0 || code == 1 || code == 3 || code == 4;
    if (code != expected && !((code == 4 || code == 1) && named) && !(not_there && documented))
      outcome.violations.push_back("exit code " + std::to_string(code) + (code == 4 ? " without its reason" : ""));
    // Only a report whose writing failed, once the looking had ended, is not printed.
    if (printed.empty() && code != expected) outcome.violations.push_back("printed nothing");
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

  // Whether a kept case still reaches what it guards.
  void CheckKept(Outcome& outcome, const KeptCase& kept) {
    const std::string& printed = outcome.process.standard_output;
    if (GetParam().program == Program::kStatus) {
      if (!Holds(printed, kept.site)) outcome.violations.push_back(std::string("kept case's report lacks ") + kept.site);
      return;
    }
    const std::size_t before = outcome.LinesBeforeFault(ReadFileBytes(LogFile()));
    const std::string last = before > 0 && before <= outcome.log.size() ? outcome.log[before - 1] : "no line";
    if (last != kept.site) outcome.violations.push_back("kept case no longer reaches its site: it fails after " + last);
  }

  std::string Report(const std::string& what, const Outcome& outcome) {
    std::string text = GetParam().name + std::string(": ") + what + "\n  violations:";
    for (const std::string& violation : outcome.violations) text += " [" + violation + "]";
    text += "\n  exit code " + std::to_string(outcome.process.exit_code) + " after " +
            std::to_string(outcome.process.seconds) + " s; output: \"" + outcome.process.standard_output +
            "\"; log bytes at the failed call: " + std::to_string(outcome.log_bytes_at_fault) + "\n  errors: " +
            outcome.errors + "\n  log:\n";
    for (const std::string& line : outcome.log) text += "    " + line + "\n";
    return text;
  }

  platform::WinsockSession winsock_;
  platform::UniqueSocket listener_;
};

fault::Extent ExtentOfThisRun() {
  return EnvironmentVariable(L"STARTER_FAULT_EXTENT") == L"whole" ? fault::Extent::kWhole : fault::Extent::kSample;
}

TEST_P(FaultMatrix, EachInjectedFailureKeepsTheRunsPromises) {
  const Scenario& scenario = GetParam();
  const fault::Extent extent = ExtentOfThisRun();
  if (extent == fault::Extent::kSample && scenario.sampled == Sampled::kNo) GTEST_SKIP() << "not in the sample";
  const auto started = std::chrono::steady_clock::now();
  ASSERT_NO_FATAL_FAILURE(Prepare());
  const Machine prepared = ReadMachine();
  const Outcome counted = Run(std::nullopt);
  ASSERT_TRUE(counted.counts.has_value());
  if (scenario.program == Program::kStarter) {
    ASSERT_EQ(counted.process.standard_output, scenario.line) << Report("the counting run", counted);
    ASSERT_EQ(counted.process.exit_code, 0u) << Report("the counting run", counted);
    ASSERT_THAT(fault::LogProblems(counted.log, counted.process.standard_output), ::testing::IsEmpty())
        << Report("the counting run", counted);
  } else {
    ASSERT_EQ(std::to_string(counted.process.exit_code), scenario.line) << Report("the counting run", counted);
  }

  const std::vector<fault::CalledFunction> called = CalledFunctions(*counted.counts);
  const std::vector<fault::Injection> plan = PlanOf(scenario, called, extent);
  long calls = 0;
  for (const fault::CalledFunction& function : called) calls += static_cast<long>(function.calls);
  int runs = 0, violations = 0, known = 0;
  std::vector<std::string> unreached, waited_out;
  for (const fault::Injection& injection : plan) {
    if (scenario.program == Program::kStarter) ASSERT_NO_FATAL_FAILURE(Restore(prepared));
    const Machine before = ReadMachine();
    Outcome outcome = Run(injection);
    ++runs;
    if (outcome.process.seconds >= std::chrono::duration<double>(contract::kWholeWait).count())
      waited_out.push_back(injection.Name());
    if (scenario.program == Program::kStarter) CheckStarter(outcome, before);
    else CheckStatus(outcome, before, injection);
    if (const KeptCase* kept = KeptCaseOf(scenario, injection)) CheckKept(outcome, *kept);
    if (outcome.log_bytes_at_fault == fault::kNotFired) unreached.push_back(injection.Name());
    const KnownCase* known_case = KnownCaseOf(scenario, injection, outcome.process.standard_output);
    if (known_case && !known_case->runtimes && outcome.violations.empty() &&
        outcome.log_bytes_at_fault != fault::kNotFired)
      ADD_FAILURE() << scenario.name << ": " << injection.Name() << " is listed as \"" << known_case->what
                    << "\" and broke no promise: no longer a known case";
    if (known_case) ++known;
    if (known_case || outcome.violations.empty()) continue;
    ++violations;
    ADD_FAILURE() << Report(injection.Name(), outcome);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("fault matrix %s: %zu functions called, %ld calls, %d injected runs (%zu not reached, %d known "
              "cases, %d waited out the wait), %d violations, %.0f s\n",
              scenario.name, called.size(), calls, runs, unreached.size(), known, static_cast<int>(waited_out.size()),
              violations, seconds);
  for (const std::string& name : unreached) std::printf("  not reached: %s\n", name.c_str());
  for (const std::string& name : waited_out) std::printf("  waited out the wait: %s\n", name.c_str());
}

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultMatrix, ::testing::ValuesIn(kScenarios), ScenarioName);

}  // namespace
}  // namespace starter::test
