#pragma once
// What the starter, the Vantic service and the status program share, written
// once: the files they leave each other, the port and where it is stored, the
// log, the wait, the caller modes and the lines a caller reads. A change here
// is a change of what callers, the service and support can rely on.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

namespace starter::contract {

// --- The install tree, under the 32-bit Program Files folder --------------
// Each path starts with a backslash and is appended to the install root as
// it stands.
inline constexpr char kVanticFolder[] = "\\norvik\\brandle\\Corvel\\Vantic";
inline constexpr char kJavaRuntime[] = "\\norvik\\brandle\\Corvel\\Tidewell\\jre\\bin\\java.exe";
// The service is the runtime's image running this jar, which lies in the
// Vantic folder; both names are compared exactly, letter case included.
inline constexpr char kServiceImageName[] = "java.exe";
inline constexpr char kServiceJarName[] = "Vantic.jar";

// --- The marker files in the Vantic folder ---------------------------------
enum class MarkerWriter {
  kStarter,  // created by the starter when missing, for the service
  kService,  // written by the service; removed by the starter when no service runs
};

struct MarkerFile {
  const char* name;
  MarkerWriter writer;
  const char* content;  // what the starter writes into a file it creates; empty for the service's
};

// The connected marker comes first: the service writes it once its client
// connection is up, and it is the one the waits look for. The starter
// creates its own in the order of the table.
inline constexpr MarkerFile kMarkerFiles[] = {
    {"WsClientConnected.json", MarkerWriter::kService, ""},
    {"ForceInstall.file", MarkerWriter::kStarter, "ForceInstall\r\n"},
    {"Report.file", MarkerWriter::kStarter, "Report\r\n"},
};
inline constexpr std::size_t kMarkerCount = std::size(kMarkerFiles);
inline constexpr std::size_t kConnectedMarkerIndex = 0;
inline constexpr const MarkerFile& kConnectedMarker = kMarkerFiles[kConnectedMarkerIndex];

// --- The service port -------------------------------------------------------
inline constexpr int kFirstServicePort = 9673;
inline constexpr int kLastServicePort = 9700;
// Whether `port` lies in the service range.
constexpr bool IsServicePort(std::int64_t port) { return port >= kFirstServicePort && port <= kLastServicePort; }
// A REG_DWORD under HKEY_LOCAL_MACHINE, always in the 64-bit view.
inline constexpr wchar_t kServicePortKey[] = L"SOFTWARE\\dadevuvidi\\Corvel\\Vantic";
inline constexpr wchar_t kServicePortValue[] = L"ServerPort";

// --- The diagnostic log -----------------------------------------------------
inline constexpr wchar_t kLogFile[] = L"C:\\Users\\Public\\Documents\\corvel\\VanticLogs\\zephra_vantic_starter.log";
// corvel and VanticLogs: the folders of the path that are the starter's own.
inline constexpr std::size_t kOwnLogFolders = 2;
// A file that would grow past this is renamed to its ".1" name first.
inline constexpr std::uint64_t kMaxLogSize = 3145728;

// --- The wait for readiness -------------------------------------------------
inline constexpr int kMaxPolls = 200;
inline constexpr std::chrono::milliseconds kPollPeriod{100};
// How long a starter waits for a service it launched, the polls' own time aside.
inline constexpr std::chrono::milliseconds kWholeWait = kMaxPolls * kPollPeriod;

// The words naming the check a poll found failing; a wait that runs out logs
// the last one after "wait ended: ".
inline constexpr char kPortNotListening[] = "port not LISTENING";
inline constexpr char kServiceMissing[] = "exe not Exist";
inline constexpr char kConnectedMarkerMissing[] = "WsClientConnected.json not Exist";
// A poll that could not ask whether a service runs, or whether what holds the
// port is one, is no answer: followed by ": " and what failed.
inline constexpr char kProcessListUnread[] = "process list could not be read";
static_assert(std::string_view(kConnectedMarkerMissing).substr(0, std::string_view(kConnectedMarker.name).size()) ==
                  kConnectedMarker.name,
              "the words name the connected marker");

// --- Caller modes and the lines they read -----------------------------------
enum class CallerMode {
  kAllChecks,        // fewer than two arguments (none or one, of any text): port, service process and marker
  kPort,             // --Dravel Brimvale: port listening
  kProcessAndFile,   // --BrandleAgent Dravel|Selkan: service process and marker
  kUninstallReport,  // --BrandleAgent UninstallReport: no wait, no output
  kNone,             // anything else: no wait, no output
};

// Exact, case-sensitive comparison of the first two arguments; later ones are ignored.
CallerMode ClassifyCallerMode(int argc, const char* const* argv);

// The status lines, exactly these bytes on standard output with no line end.
inline constexpr char kSuccessLine[] = R"({"Dravel":0,"Selkan":0})";
inline constexpr char kPortTimeoutLine[] = R"({"Dravel":1,"Selkan":0})";
inline constexpr char kProcessTimeoutLine[] = R"({"Dravel":0,"Selkan":1})";
inline constexpr char kAllTimeoutLine[] = R"({"Dravel":1,"Selkan":1})";

// The line a mode's wait reports when it runs out; null for the modes that
// print nothing.
const char* TimeoutLine(CallerMode mode);

// --- How long a run may take ------------------------------------------------
// Callers wait for the line, so every run has one limit on its time, counted
// from its start: past it the run prints the mode's timeout line if it has
// printed nothing yet (its wait did not see readiness, which is true) and
// ends, whatever holds it up (an oplocked file whose holder never lets go, a
// filter driver, a hung share). The limit is a backstop, not a cut: every
// stage keeps a bound of its own, and the limit lies above the sum of them
// all, so it ends only a run that something holds beyond every bound.

// The stages of a run, in their order; the limit names the one it ended.
enum class Stage { kStart, kTempProbe, kStaleMarker, kMarkerCreation, kPortSelection, kLaunch, kWait, kEnd };

struct StageBound {
  Stage stage;
  const char* name;                    // in the limit's warning and the status report
  std::chrono::milliseconds bound;     // what the stage may take on a slow but healthy machine
};

// Each bound is the sum of the limits that stage's code keeps, with room for
// a slow machine. Where the code keeps constants of its own it asserts them
// against its row: the log's lock and open (log/log_file.h), the temp
// probe's tries (app/main_win.cpp), the removal (app/readiness_wait.cpp),
// the listings (port/server_port_win.cpp).
inline constexpr StageBound kStageBounds[] = {
    // The log's first wait for its writers' lock (0.5 s), its open, and the
    // retries of an open an indexer's oplock holds up.
    {Stage::kStart, "start", std::chrono::milliseconds(1000)},
    // Five looks at TEMP, 100 ms apart.
    {Stage::kTempProbe, "temp probe", std::chrono::milliseconds(1000)},
    // The service processes looked for, and the marker's removal (2 s).
    {Stage::kStaleMarker, "stale marker", std::chrono::milliseconds(3000)},
    // Two small files created.
    {Stage::kMarkerCreation, "marker creation", std::chrono::milliseconds(500)},
    // Two listings of 10 s together, the TCP tables and the registry.
    {Stage::kPortSelection, "port selection", std::chrono::milliseconds(11000)},
    // The process creation, which a security tool may hold while it scans.
    {Stage::kLaunch, "launch", std::chrono::milliseconds(2000)},
    // The wait's own bound is kWaitOnSlowMachine below.
    {Stage::kWait, "wait", std::chrono::milliseconds(0)},
    {Stage::kEnd, "end", std::chrono::milliseconds(500)},
};
static_assert(std::size(kStageBounds) == static_cast<std::size_t>(Stage::kEnd) + 1);

constexpr const StageBound& BoundOf(Stage stage) { return kStageBounds[static_cast<std::size_t>(stage)]; }
constexpr const char* StageName(Stage stage) { return BoundOf(stage).name; }

// Everything but the wait: what a run that does not wait takes at most.
constexpr std::chrono::milliseconds StagesBound() {
  std::chrono::milliseconds sum{0};
  // A loop: std::accumulate is constexpr only from C++20 on.
  // cppcheck-suppress useStlAlgorithm
  for (const StageBound& stage : kStageBounds) sum += stage.bound;
  return sum;
}

// The wait on a slow but healthy machine. A 100 ms period is slept in whole
// ticks of the system timer, 15.625 ms unless a program asked for a finer
// one: 7 ticks, 109.375 ms. A poll (the listener table, the process list,
// a few command lines, one file) takes a few milliseconds on a quiet
// machine; kPollBudget is what a loaded one may take.
inline constexpr std::chrono::microseconds kTimerTick{15625};
inline constexpr std::chrono::milliseconds kPollBudget{50};
inline constexpr std::chrono::microseconds kPeriodOnCoarseTimer =
    ((std::chrono::microseconds(kPollPeriod) + kTimerTick - std::chrono::microseconds(1)) / kTimerTick) * kTimerTick;
static_assert(kPeriodOnCoarseTimer == std::chrono::microseconds(109375));
inline constexpr std::chrono::microseconds kWaitOnSlowMachine = kMaxPolls * (kPeriodOnCoarseTimer + kPollBudget);

// The limits. Each lies above every stage's bound (and, for the modes that
// wait, the whole wait on a slow machine), with 2 s of slack for a machine
// that schedules the run late.
inline constexpr std::chrono::milliseconds kLimitSlack{2000};
inline constexpr std::chrono::seconds kOtherModeRunLimit{21};
inline constexpr std::chrono::seconds kWaitingModeRunLimit{53};
static_assert(kOtherModeRunLimit >= StagesBound() + kLimitSlack,
              "a run that does not wait has launched the service well before its limit");
static_assert(kWaitingModeRunLimit >= StagesBound() + kWaitOnSlowMachine + kLimitSlack,
              "a waiting run keeps its 200 polls while each stays within its budget");

// The run limit of `mode`: kWaitingModeRunLimit for the modes that wait
// (those with a timeout line), kOtherModeRunLimit for the others.
std::chrono::seconds RunLimit(CallerMode mode);

// ASCII text (every name above) as wide characters.
std::wstring Widen(std::string_view ascii);

// The path of `relative` under `root`, widened;
// empty for an empty root: a bare relative path would resolve against the
// root of the current drive, where any local user could have put files.
std::wstring UnderRoot(const std::wstring& root, std::string_view relative);

}  // namespace starter::contract
