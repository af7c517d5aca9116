#include "app/readiness_wait.h"

#include <algorithm>

#include "contract/run_log.h"
#include "log/diag_log.h"
#include "platform/file_removal.h"

namespace starter::app {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

using contract::kConnectedMarkerMissing;
using contract::kPortNotListening;
using contract::kServiceMissing;

// What one poll found: every check of the mode passed, or the words of the
// check that failed. Each poll starts again from its first check: success
// needs all checks of the mode to pass within one poll.
struct PollResult {
  bool ready = false;
  std::string failed_check;  // when not ready
};

PollResult Ready() { return {true, {}}; }

PollResult Failed(std::string check) {
  log::Debug("{}", check);
  return {false, std::move(check)};
}

// The words of a failed port check: nothing listens, unless it says more.
std::string PortFailure(const PortCheck& port) { return port.reason.empty() ? kPortNotListening : port.reason; }

// The polls of each waiting mode. The port mode writes no poll lines.
PollResult PollPort(ReadinessProbe& probe, std::uint16_t port) {
  const PortCheck check = probe.CheckPort(port);
  if (check.ready) return Ready();
  return {false, PortFailure(check)};
}

PollResult PollServiceAndMarker(ReadinessProbe& probe, std::uint16_t) {
  const platform::Expected<service::ServiceSearch> search = probe.FindService();
  if (!search.ok()) return Failed(ProcessListUnread(search.error()));
  if (*search != service::ServiceSearch::kFound) return Failed(kServiceMissing);
  log::Debug("exe Exist");
  if (probe.MarkerPresent()) return Ready();
  return Failed(kConnectedMarkerMissing);
}

PollResult PollAll(ReadinessProbe& probe, std::uint16_t port) {
  if (const PortCheck check = probe.CheckPort(port); !check.ready) return Failed(PortFailure(check));
  log::Debug("port LISTENING");
  return PollServiceAndMarker(probe, port);
}

// Waits are made in whole milliseconds and never end before the clock says.
milliseconds AtLeast(microseconds span) { return std::chrono::ceil<milliseconds>(span); }

// What a waiting mode logs first, how it polls and whether it watches the
// marker's folder between polls; a wait that runs out reports the mode's
// timeout line.
struct WaitingMode {
  contract::CallerMode mode;
  const char* first_line;
  PollResult (*poll)(ReadinessProbe&, std::uint16_t);
  bool watches_marker_folder;
};

// One wait: the mode's polls of the service on one port, on a watch.
class Wait {
 public:
  Wait(const WaitingMode& mode, std::uint16_t port, ReadinessProbe& probe, FolderWatch& watch)
      : mode_(mode), port_(port), probe_(probe), watch_(watch) {}

  // Up to contract::kMaxPolls polls on the clock, each followed by a period
  // of waiting on the watch, the last one too; extra polls do not count.
  // The first poll that found the mode ready, else the last one.
  PollResult UntilReady() {
    PollResult last;
    for (int i = 0; i < contract::kMaxPolls; ++i) {
      last = PollAndWatch();
      if (last.ready) break;
    }
    return last;
  }

 private:
  // One poll, timed on the watch's clock.
  struct TimedPoll {
    PollResult result;
    microseconds ended;
    microseconds cost;
  };

  TimedPoll PollTimed() {
    const microseconds began = watch_.Now();
    PollResult result = mode_.poll(probe_, port_);
    const microseconds ended = watch_.Now();
    return {std::move(result), ended, ended - began};
  }

  void PauseUntil(microseconds until) {
    if (const microseconds now = watch_.Now(); now < until) watch_.Pause(AtLeast(until - now));
  }

  // A poll on the clock and the period after it, spent on the watch. A
  // change in the folder brings an extra poll at once, so a marker is seen as
  // soon as it is written. Extra polls keep kMinExtraPollGap from the end of
  // the poll before, so a folder that changes all the time cannot make the
  // starter spin, and one that could not end within the period (judged by the
  // poll before) is left to the next poll on the clock, which it would put off.
  PollResult PollAndWatch() {
    TimedPoll last = PollTimed();
    const microseconds period_end = last.ended + contract::kPollPeriod;
    for (microseconds now = last.ended; !last.result.ready && now < period_end; now = watch_.Now()) {
      if (!watch_.WaitForChange(AtLeast(period_end - now))) continue;
      const microseconds start = std::max<microseconds>(watch_.Now(), last.ended + kMinExtraPollGap);
      const bool in_time = start + last.cost < period_end;
      PauseUntil(in_time ? start : period_end);
      if (in_time) last = PollTimed();
    }
    return last.result;
  }

  const WaitingMode& mode_;
  std::uint16_t port_;
  ReadinessProbe& probe_;
  FolderWatch& watch_;
};

constexpr WaitingMode kAllChecksWait{contract::CallerMode::kAllChecks, "Case no args, check port,process and file",
                                     PollAll, true};
constexpr WaitingMode kPortWait{contract::CallerMode::kPort, "Case --Dravel Brimvale, check port", PollPort, false};
constexpr WaitingMode kProcessAndFileWait{contract::CallerMode::kProcessAndFile,
                                          "Case --BrandleAgent Dravel, check process and file", PollServiceAndMarker,
                                          true};

// A wait that runs out names the check that kept it from success, which the
// poll lines, written only at debug level, do not. A line the run's limit
// printed first leaves this one unprinted and unlogged.
void WaitAndReport(const WaitingMode& mode, std::uint16_t port, ReadinessProbe& probe, StatusLineOnce& status_line) {
  log::Info("{}", mode.first_line);
  const std::unique_ptr<FolderWatch> watch =
      mode.watches_marker_folder ? probe.WatchMarkerFolder() : probe.WatchNothing();
  const PollResult last = Wait(mode, port, probe, *watch).UntilReady();
  if (!last.ready) log::Info("{}", contract::WaitEndedMessage(last.failed_check));
  const std::string line = last.ready ? contract::kSuccessLine : contract::TimeoutLine(mode.mode);
  status_line.Print(line, [&line, &status_line] {
    for (const EndLine& logged : PrintedLogLines(line, status_line.delivery())) log::Write(logged.level, logged.text);
  });
}

}  // namespace

static_assert(platform::kRemovalBound < contract::BoundOf(contract::Stage::kStaleMarker).bound,
              "the marker's removal leaves the stale marker's bound room for the look for service processes");

std::string ProcessListUnread(const platform::SystemError& failed) {
  return std::string(contract::kProcessListUnread) + ": " + Describe(failed);
}

void ClearStaleConnectedMarker(ReadinessProbe& probe) {
  const platform::Expected<service::ServiceSearch> search = probe.FindService();
  if (search.ok() && *search == service::ServiceSearch::kFound) return;
  if (search.ok() && *search == service::ServiceSearch::kNotFound) {
    log::Info("Vantic process not exist");
    probe.RemoveConnectedMarker();
    return;
  }
  const std::string why = search.ok() ? "a java.exe could not be examined" : ProcessListUnread(search.error());
  log::Warn("Vantic process not known ({}): {} kept", why, contract::kConnectedMarker.name);
  probe.KeepConnectedMarker();
}

void ReportReadiness(contract::CallerMode mode, std::uint16_t port, ReadinessProbe& probe, StatusLineOnce& line) {
  switch (mode) {
    case contract::CallerMode::kAllChecks: return WaitAndReport(kAllChecksWait, port, probe, line);
    case contract::CallerMode::kPort: return WaitAndReport(kPortWait, port, probe, line);
    case contract::CallerMode::kProcessAndFile: return WaitAndReport(kProcessAndFileWait, port, probe, line);
    case contract::CallerMode::kUninstallReport: log::Info("Case --BrandleAgent UninstallReport"); return;
    case contract::CallerMode::kNone: return;
  }
}

}  // namespace starter::app
