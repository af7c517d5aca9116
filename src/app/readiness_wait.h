#pragma once
// What the starter decides about the service, apart from the system calls
// that answer its questions: whether an old connected marker goes, and the
// wait for readiness each caller mode needs (up to 200 polls on a clock of
// 100 ms periods, spent on a watch that brings an extra poll when the
// marker's folder changes), ending in the line the caller reads.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "contract/product_contract.h"
#include "install/markers.h"

namespace starter::app {

// A connected marker left by a service that has since ended would let the
// next wait report success before the newly launched service is ready.
// Removes the marker (through `remove_marker`) only when no service runs; a
// running service owns its marker and may be the one callers wait for.
// Answers the leftover the removal could not take away, if any.
std::optional<install::LeftoverMarker> ClearStaleConnectedMarker(
    bool service_running, const std::function<std::optional<install::LeftoverMarker>()>& remove_marker);

// What the waits wait on between polls, and their clock.
class FolderWatch {
 public:
  virtual ~FolderWatch() = default;
  // The steady clock the waits are measured on.
  virtual std::chrono::microseconds Now() = 0;
  // Waits at most `timeout` for a change in the folder since the last call
  // (or since the watch began). True when there was one; the watch is then
  // armed again for the next. A watch on no folder always sleeps `timeout`.
  virtual bool WaitForChange(std::chrono::milliseconds timeout) = 0;
  // Waits `duration`, whatever happens in the folder.
  virtual void Pause(std::chrono::milliseconds duration) = 0;
};

// Watches the folder of `connected_marker` for files created, renamed or
// written in it (not in its subfolders). When there is no folder (no install
// root) or it cannot be watched, a debug line says why and the watch only
// sleeps. (Windows only.)
std::unique_ptr<FolderWatch> WatchMarkerFolder(const std::wstring& connected_marker);
// A watch on no folder: the waits are plain sleeps on the clock. (Windows only.)
std::unique_ptr<FolderWatch> WatchNothing();

// What the polls look at, and what the starter waits on between them.
struct ReadinessProbe {
  std::function<bool()> port_listening;
  std::function<bool()> service_running;
  std::function<bool()> marker_present;
  // For the modes that wait for the marker: a watch on its folder.
  std::function<std::unique_ptr<FolderWatch>()> watch_marker_folder;
  // For the port mode: no event announces a socket that starts to listen.
  std::function<std::unique_ptr<FolderWatch>()> watch_nothing;
};

// Changes of the folder bring extra polls, never closer than this to the end
// of the previous poll, however often the folder changes.
inline constexpr std::chrono::milliseconds kMinExtraPollGap{10};

// A poll answers nullptr when every check it makes passed, or else the words
// naming the check that failed (contract::kPortNotListening and its kind).
using Poll = std::function<const char*()>;

// The polls of each waiting mode. Each starts again from its first check:
// success needs all checks of the mode to pass within one poll.
const char* PollPort(const ReadinessProbe& probe);
const char* PollServiceAndMarker(const ReadinessProbe& probe);
const char* PollPortServiceAndMarker(const ReadinessProbe& probe);

// Up to contract::kMaxPolls polls on the clock, each followed by a period of
// waiting on `watch`, the last one too; extra polls do not count. Returns
// nullptr on success, else the words of the check that failed last.
const char* WaitUntilReady(const Poll& poll, FolderWatch& watch);

// Writes the status line; false when it was not written because a line was
// already printed (by the run's limit).
using PrintLine = std::function<bool(const std::string&)>;

// Logs the mode's first line, waits as the mode requires and reports its
// line through `print`; the modes without a wait print nothing.
void ReportReadiness(contract::CallerMode mode, const ReadinessProbe& probe, const PrintLine& print);

}  // namespace starter::app
