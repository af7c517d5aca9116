#pragma once
// The clock of the readiness waits and what they wait on between polls: a
// change notification on the folder where the service writes its connected
// marker, or nothing but the clock.
#include <chrono>
#include <memory>
#include <string>

namespace starter::app {

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
// sleeps.
std::unique_ptr<FolderWatch> WatchMarkerFolder(const std::wstring& connected_marker);

// A watch on no folder: the waits are plain sleeps on the clock.
std::unique_ptr<FolderWatch> WatchNothing();

}  // namespace starter::app
