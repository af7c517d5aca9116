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
// ends, whatever holds it up (a read of the TCP tables that takes seconds on
// a machine with thousands of connections, an oplocked file, a filter
// driver, a hung share). The limit must not cut a run that is still
// legitimately at work, so it lies at the longest such a run takes: the temp
// probe (0.5 s), the port selection's listings and checks (about 10.3 s), a
// held connected marker (2 s), the log's writers' lock (0.5 s) and start-up
// come to about 14 s; the waiting modes add their 200 polls and periods
// (about 22 s).
inline constexpr std::chrono::seconds kWaitingModeRunLimit{36};
inline constexpr std::chrono::seconds kOtherModeRunLimit{14};
static_assert(kWaitingModeRunLimit >= kOtherModeRunLimit + kWholeWait,
              "a waiting run's limit leaves the whole wait after the stages every run goes through");

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
