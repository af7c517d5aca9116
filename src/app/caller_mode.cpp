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

// One poll, timed on the watch's clock.
struct TimedPoll {
  const char* failed;
  microseconds ended;
  microseconds cost;
};

TimedPoll PollTimed(const Poll& poll, FolderWatch& watch) {
  const microseconds began = watch.Now();
  const char* failed = poll();
  const microseconds ended = watch.Now();
  return {failed, ended, ended - began};
}

void PauseUntil(microseconds until, FolderWatch& watch) {
  if (const microseconds now = watch.Now(); now < until) watch.Pause(AtLeast(until - now));
}

// A poll on the clock and the period after it, spent on the folder watch. A
// change in the folder brings an extra poll at once, so a marker is seen as
// soon as it is written. Extra polls keep kMinExtraPollGap from the end of
// the poll before, so a folder that changes all the time cannot make the
// starter spin, and one that could not end within the period (judged by the
// poll before) is left to the next poll on the clock, which it would put off.
const char* PollAndWatch(const Poll& poll, FolderWatch& watch) {
  TimedPoll last = PollTimed(poll, watch);
  const microseconds period_end = last.ended + kPollPeriod;
  for (microseconds now = last.ended; last.failed && now < period_end; now = watch.Now()) {
    if (!watch.WaitForChange(AtLeast(period_end - now))) continue;
    const microseconds start = std::max<microseconds>(watch.Now(), last.ended + kMinExtraPollGap);
    const bool in_time = start + last.cost < period_end;
    PauseUntil(in_time ? start : period_end, watch);
    if (in_time) last = PollTimed(poll, watch);
  }
  return last.failed;
}

// Up to kMaxPolls polls on the clock, each followed by a period of waiting,
// the last one too; extra polls do not count. Returns nullptr on success,
// else the words of the check that failed last.
const char* WaitUntil(const Poll& poll, const ReadinessProbe& probe, FolderWatch* watch) {
  const char* failed = nullptr;
  for (int i = 0; i < kMaxPolls; ++i) {
    if (watch) {
      failed = PollAndWatch(poll, *watch);
    } else {
      failed = poll();
      if (failed) probe.sleep_between_polls();
    }
    if (!failed) return nullptr;
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

std::unique_ptr<FolderWatch> OpenWatch(const ReadinessProbe& probe) {
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
      const std::unique_ptr<FolderWatch> watch = OpenWatch(probe);
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
      const std::unique_ptr<FolderWatch> watch = OpenWatch(probe);
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
