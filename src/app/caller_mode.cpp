#include "app/caller_mode.h"

#include <cstring>

#include "log/diag_log.h"

namespace starter::app {
namespace {

bool Is(const char* argument, const char* text) { return std::strcmp(argument, text) == 0; }

// What a waiting mode logs first, how it polls, what it waits on between
// polls and the line a wait that runs out reports.
struct WaitingMode {
  const char* first_line;
  const char* (*poll)(const ReadinessProbe&);
  std::function<std::unique_ptr<FolderWatch>()> ReadinessProbe::*watch;
  std::string ResultLines::*timeout_line;
};

constexpr WaitingMode kNoArgumentWait{"Case no args, check port,process and file", PollPortServiceAndMarker,
                                      &ReadinessProbe::watch_marker_folder, &ResultLines::all_timeout};
constexpr WaitingMode kPortWait{"Case --Dravel Brimvale, check port", PollPort, &ReadinessProbe::watch_nothing,
                                &ResultLines::port_timeout};
constexpr WaitingMode kProcessAndFileWait{"Case --BrandleAgent Dravel, check process and file",
                                          PollServiceAndMarker, &ReadinessProbe::watch_marker_folder,
                                          &ResultLines::process_timeout};

// A wait that runs out names the check that kept it from success, which the
// poll lines, written only at debug level, do not.
void WaitAndReport(const WaitingMode& mode, const ResultLines& lines, const ReadinessProbe& probe,
                   const std::function<void(const std::string&)>& print) {
  log::Info("{}", mode.first_line);
  const std::unique_ptr<FolderWatch> watch = (probe.*mode.watch)();
  const char* failed = WaitUntilReady([&] { return mode.poll(probe); }, *watch);
  if (failed) log::Info("wait ended: {}", failed);
  const std::string& line = failed ? lines.*mode.timeout_line : lines.success;
  print(line);
  log::Info("OUTPUT->{}", line);
}

}  // namespace

CallerMode ClassifyCallerMode(int argc, const char* const* argv) {
  if (argc < 3) return CallerMode::kNoArgument;
  if (Is(argv[1], "--Dravel") && Is(argv[2], "Brimvale")) return CallerMode::kPort;
  if (Is(argv[1], "--BrandleAgent")) {
    if (Is(argv[2], "Dravel") || Is(argv[2], "Selkan")) return CallerMode::kProcessAndFile;
    if (Is(argv[2], "UninstallReport")) return CallerMode::kUninstallReport;
  }
  return CallerMode::kNone;
}

void CheckCaseWith(CallerMode mode, const ResultLines& lines, const ReadinessProbe& probe,
                   const std::function<void(const std::string&)>& print) {
  switch (mode) {
    case CallerMode::kNoArgument: return WaitAndReport(kNoArgumentWait, lines, probe, print);
    case CallerMode::kPort: return WaitAndReport(kPortWait, lines, probe, print);
    case CallerMode::kProcessAndFile: return WaitAndReport(kProcessAndFileWait, lines, probe, print);
    case CallerMode::kUninstallReport: log::Info("Case --BrandleAgent UninstallReport"); return;
    case CallerMode::kNone: return;
  }
}

}  // namespace starter::app
