#include "app/readiness_wait.h"

#include <algorithm>

#include "log/diag_log.h"

namespace starter::app {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// The words of the poll lines; a wait that runs out repeats the last failed one.
constexpr char kPortNotListening[] = "port not LISTENING";
constexpr char kServiceMissing[] = "exe not Exist";
constexpr char kMarkerMissing[] = "WsClientConnected.json not Exist";

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

}  // namespace

const char* PollPort(const ReadinessProbe& probe) {
  // The port mode writes no poll lines.
  return probe.port_listening() ? nullptr : kPortNotListening;
}

const char* PollServiceAndMarker(const ReadinessProbe& probe) {
  if (!probe.service_running()) return Failed(kServiceMissing);
  log::Debug("exe Exist");
  if (probe.marker_present()) return nullptr;
  return Failed(kMarkerMissing);
}

const char* PollPortServiceAndMarker(const ReadinessProbe& probe) {
  if (!probe.port_listening()) return Failed(kPortNotListening);
  log::Debug("port LISTENING");
  return PollServiceAndMarker(probe);
}

const char* WaitUntilReady(const Poll& poll, FolderWatch& watch) {
  const char* failed = nullptr;
  for (int i = 0; i < kMaxPolls; ++i) {
    failed = PollAndWatch(poll, watch);
    if (!failed) return nullptr;
  }
  return failed;
}

}  // namespace starter::app
