#include "app/readiness_wait.h"

#include <algorithm>

#include "log/diag_log.h"

namespace starter::app {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

using contract::kConnectedMarkerMissing;
using contract::kPortNotListening;
using contract::kServiceMissing;

const char* Failed(const char* check) {
  log::Debug("{}", check);
  return check;
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

// A poll on the clock and the period after it, spent on the watch. A change
// in the folder brings an extra poll at once, so a marker is seen as soon as
// it is written. Extra polls keep kMinExtraPollGap from the end of the poll
// before, so a folder that changes all the time cannot make the starter
// spin, and one that could not end within the period (judged by the poll
// before) is left to the next poll on the clock, which it would put off.
const char* PollAndWatch(const Poll& poll, FolderWatch& watch) {
  TimedPoll last = PollTimed(poll, watch);
  const microseconds period_end = last.ended + contract::kPollPeriod;
  for (microseconds now = last.ended; last.failed && now < period_end; now = watch.Now()) {
    if (!watch.WaitForChange(AtLeast(period_end - now))) continue;
    const microseconds start = std::max<microseconds>(watch.Now(), last.ended + kMinExtraPollGap);
    const bool in_time = start + last.cost < period_end;
    PauseUntil(in_time ? start : period_end, watch);
    if (in_time) last = PollTimed(poll, watch);
  }
  return last.failed;
}

// What a waiting mode logs first, how it polls and what it waits on between
// polls; a wait that runs out reports the mode's timeout line.
struct WaitingMode {
  contract::CallerMode mode;
  const char* first_line;
  const char* (*poll)(const ReadinessProbe&);
  std::function<std::unique_ptr<FolderWatch>()> ReadinessProbe::*watch;
};

constexpr WaitingMode kNoArgumentWait{contract::CallerMode::kNoArgument, "Case no args, check port,process and file",
                                      PollPortServiceAndMarker, &ReadinessProbe::watch_marker_folder};
constexpr WaitingMode kPortWait{contract::CallerMode::kPort, "Case --Dravel Brimvale, check port", PollPort,
                                &ReadinessProbe::watch_nothing};
constexpr WaitingMode kProcessAndFileWait{contract::CallerMode::kProcessAndFile,
                                          "Case --BrandleAgent Dravel, check process and file",
                                          PollServiceAndMarker, &ReadinessProbe::watch_marker_folder};

// A wait that runs out names the check that kept it from success, which the
// poll lines, written only at debug level, do not. A line the run's limit
// printed first leaves this one unprinted and unlogged.
void WaitAndReport(const WaitingMode& mode, const ReadinessProbe& probe, const PrintLine& print) {
  log::Info("{}", mode.first_line);
  const std::unique_ptr<FolderWatch> watch = (probe.*mode.watch)();
  const char* failed = WaitUntilReady([&] { return mode.poll(probe); }, *watch);
  if (failed) log::Info("wait ended: {}", failed);
  const std::string line = failed ? contract::TimeoutLine(mode.mode) : contract::kSuccessLine;
  if (print(line)) log::Info("OUTPUT->{}", line);
}

}  // namespace

std::optional<install::LeftoverMarker> ClearStaleConnectedMarker(
    bool service_running, const std::function<std::optional<install::LeftoverMarker>()>& remove_marker) {
  if (service_running) return std::nullopt;
  log::Info("Vantic process not exist");
  return remove_marker();
}

const char* PollPort(const ReadinessProbe& probe) {
  // The port mode writes no poll lines.
  return probe.port_listening() ? nullptr : kPortNotListening;
}

const char* PollServiceAndMarker(const ReadinessProbe& probe) {
  if (!probe.service_running()) return Failed(kServiceMissing);
  log::Debug("exe Exist");
  if (probe.marker_present()) return nullptr;
  return Failed(kConnectedMarkerMissing);
}

const char* PollPortServiceAndMarker(const ReadinessProbe& probe) {
  if (!probe.port_listening()) return Failed(kPortNotListening);
  log::Debug("port LISTENING");
  return PollServiceAndMarker(probe);
}

const char* WaitUntilReady(const Poll& poll, FolderWatch& watch) {
  const char* failed = nullptr;
  for (int i = 0; i < contract::kMaxPolls; ++i) {
    failed = PollAndWatch(poll, watch);
    if (!failed) return nullptr;
  }
  return failed;
}

void ReportReadiness(contract::CallerMode mode, const ReadinessProbe& probe, const PrintLine& print) {
  switch (mode) {
    case contract::CallerMode::kNoArgument: return WaitAndReport(kNoArgumentWait, probe, print);
    case contract::CallerMode::kPort: return WaitAndReport(kPortWait, probe, print);
    case contract::CallerMode::kProcessAndFile: return WaitAndReport(kProcessAndFileWait, probe, print);
    case contract::CallerMode::kUninstallReport: log::Info("Case --BrandleAgent UninstallReport"); return;
    case contract::CallerMode::kNone: return;
  }
}

}  // namespace starter::app
