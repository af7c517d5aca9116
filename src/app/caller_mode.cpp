#include "app/caller_mode.h"

#include <algorithm>
#include <cstring>

#include "log/diag_log.h"

namespace starter::app {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// The words of the poll lines; a wait that runs out repeats the last failed one.
constexpr char kPortNotListening[] = "port not LISTENING";
constexpr char kServiceMissing[] = "exe not Exist";
constexpr char kMarkerMissing[] = "WsClientConnected.json not Exist";

// A poll answers nullptr when every check of its mode passed, or else the
// words naming the check that failed.
using Poll = std::function<const char*()>;

bool Is(const char* argument, const char* text) { return std::strcmp(argument, text) == 0; }

const char* Failed(const char* check) {
  log::Debug("{}", check);
  return check;
}

const char* PollServiceAndMarker(const ReadinessProbe& probe) {
  if (!probe.service_running()) return Failed(kServiceMissing);
  log::Debug("exe Exist");
  if (probe.marker_present()) return nullptr;
  return Failed(kMarkerMissing);
}

// Every poll starts again from the first check: success needs all checks of
// the mode to pass within one poll.
const char* PollPortServiceAndMarker(const ReadinessProbe& probe) {
  if (!probe.port_listening()) return Failed(kPortNotListening);
  log::Debug("port LISTENING");
  return PollServiceAndMarker(probe);
}

// Waits are made in whole milliseconds and never end before the clock says.
milliseconds AtLeast(microseconds span) { return std::chrono::ceil<milliseconds>(span); }

// The rest of one poll period, spent on the folder watch. A change in the
// folder brings an extra poll at once, so a marker is seen as soon as it is
// written; the period still ends when it would have, and extra polls keep
// kMinExtraPollGap from the end of the poll before, so a folder that changes
// all the time cannot make the starter spin.
const char* WaitOutPeriod(const Poll& poll, FolderWatch& watch, const char* failed) {
  microseconds last_poll_end = watch.Now();
  const microseconds period_end = last_poll_end + kPollPeriod;
  for (microseconds now = last_poll_end; now < period_end; now = watch.Now()) {
    if (!watch.WaitForChange(AtLeast(period_end - now))) continue;
    const microseconds earliest = std::min<microseconds>(last_poll_end + kMinExtraPollGap, period_end);
    if (const microseconds woke = watch.Now(); woke < earliest) watch.Pause(AtLeast(earliest - woke));
    if (watch.Now() >= period_end) break;
    failed = poll();
    if (!failed) return nullptr;
    last_poll_end = watch.Now();
  }
  return failed;
}

// Up to kMaxPolls polls on the clock, each followed by a period of waiting,
// the last one too; extra polls do not count. Returns nullptr on success,
// else the words of the check that failed last.
const char* WaitUntil(const Poll& poll, const ReadinessProbe& probe, FolderWatch* watch) {
  const char* failed = nullptr;
  for (int i = 0; i < kMaxPolls; ++i) {
    failed = poll();
    if (!failed) return nullptr;
    if (watch) {
      failed = WaitOutPeriod(poll, *watch, failed);
      if (!failed) return nullptr;
    } else {
      probe.sleep_between_polls();
    }
  }
  return failed;
}

void Report(const std::string& line, const ReadinessProbe& probe) {
  probe.print(line);
  log::Info("OUTPUT->{}", line);
}

// A wait that runs out names the check that kept it from success, which the
// poll lines, written only at debug level, do not.
void WaitAndReport(const Poll& poll, FolderWatch* watch, const std::string& timeout_line,
                   const ResultLines& lines, const ReadinessProbe& probe) {
  if (const char* failed = WaitUntil(poll, probe, watch)) {
    log::Info("wait ended: {}", failed);
    Report(timeout_line, probe);
    return;
  }
  Report(lines.success, probe);
}

std::unique_ptr<FolderWatch> WatchMarkerFolder(const ReadinessProbe& probe) {
  return probe.watch_marker_folder ? probe.watch_marker_folder() : nullptr;
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

void CheckCaseWith(CallerMode mode, const ResultLines& lines, const ReadinessProbe& probe) {
  switch (mode) {
    case CallerMode::kNoArgument: {
      log::Info("Case no args, check port,process and file");
      const std::unique_ptr<FolderWatch> watch = WatchMarkerFolder(probe);
      WaitAndReport([&] { return PollPortServiceAndMarker(probe); }, watch.get(), lines.all_timeout, lines,
                    probe);
      return;
    }
    case CallerMode::kPort:
      // No event announces a socket that starts to listen: plain sleeps, and
      // no poll lines.
      log::Info("Case --Dravel Brimvale, check port");
      WaitAndReport([&] { return probe.port_listening() ? nullptr : kPortNotListening; }, nullptr,
                    lines.port_timeout, lines, probe);
      return;
    case CallerMode::kProcessAndFile: {
      log::Info("Case --BrandleAgent Dravel, check process and file");
      const std::unique_ptr<FolderWatch> watch = WatchMarkerFolder(probe);
      WaitAndReport([&] { return PollServiceAndMarker(probe); }, watch.get(), lines.process_timeout, lines,
                    probe);
      return;
    }
    case CallerMode::kUninstallReport:
      log::Info("Case --BrandleAgent UninstallReport");
      return;
    case CallerMode::kNone:
      return;
  }
}

}  // namespace starter::app
