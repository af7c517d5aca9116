#pragma once
// The wait for readiness each caller mode needs: up to 200 polls on a clock
// of 100 ms periods, spent on a watch that brings an extra poll when the
// marker's folder changes, ending in the line the caller reads. The polls ask
// the app's probe of the machine (ReadinessProbe), scripted in the tests.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/run_limit.h"
#include "contract/product_contract.h"
#include "install/markers.h"
#include "platform/system_error.h"
#include "port/port_holder.h"
#include "service/process_detection.h"

namespace starter::app {

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

// What a poll finds on the service's port.
struct PortCheck {
  // The service listens there, or a listener's owner may be the service
  // (port::PortHolding::ServiceMayListen).
  bool ready = false;
  // Otherwise, when the check can say more than that nothing listens, the
  // words that say it: another program listens there instead
  // (port::HolderWords), or the process list could not be read to tell;
  // empty when nothing listens.
  std::string reason;
};

// What the starter asks of the machine from the stale marker to the wait.
class ReadinessProbe {
 public:
  virtual ~ReadinessProbe() = default;
  virtual PortCheck CheckPort(std::uint16_t port) = 0;
  // What one walk of the process list says of a running service; what failed
  // when the list cannot be read.
  virtual platform::Expected<service::ServiceSearch> FindService() = 0;
  // Whether the connected marker is there; a marker the removal or the keep
  // below left standing counts only once it has been written again.
  virtual bool MarkerPresent() = 0;
  // Removes the connected marker, keeping what could not be taken away.
  virtual void RemoveConnectedMarker() = 0;
  // Leaves the connected marker where it is: it may be a running service's.
  virtual void KeepConnectedMarker() = 0;
  // For the modes that wait for the marker: a watch on its folder.
  virtual std::unique_ptr<FolderWatch> WatchMarkerFolder() = 0;
  // For the port mode: no event announces a socket that starts to listen.
  virtual std::unique_ptr<FolderWatch> WatchNothing() = 0;
};

// A connected marker left by a service that has since ended would let the
// next wait report success before the newly launched service is ready. The
// marker goes only when no service is known to run: every java.exe was
// examined and none is the service. A running service owns its marker and
// may be the one callers wait for. When the run cannot tell (a java.exe it
// may not examine, another account's service say, or no process list), the
// marker stays, for it may be a running service's, and the wait counts it
// only once it is written again, as if it had gone.
void ClearStaleConnectedMarker(ReadinessProbe& probe);

// The words of a poll, or of the stale marker's step, that could not read
// the process list: contract::kProcessListUnread and what failed.
std::string ProcessListUnread(const platform::SystemError& failed);

// Changes of the folder bring extra polls, never closer than this to the end
// of the previous poll, however often the folder changes.
inline constexpr std::chrono::milliseconds kMinExtraPollGap{10};


// Logs the mode's first line, waits as the mode requires for the service on
// `port` and prints its line through the run's single claim of it (a line
// the run's limit printed first leaves this one unprinted and unlogged); the
// modes without a wait print nothing. A wait that runs out logs the check
// that kept it from success.
void ReportReadiness(contract::CallerMode mode, std::uint16_t port, ReadinessProbe& probe, StatusLineOnce& line);

// --- The machine (Windows) ----------------------------------------------------

// The machine as the starter sees it, for the connected marker at
// `connected_marker`; the port's listeners are read over `listeners` and
// processes looked at over `processes` (the machine's own unless a test
// gives others).
class MachineProbe final : public ReadinessProbe {
 public:
  explicit MachineProbe(std::wstring connected_marker, port::ListenerSteps* listeners = nullptr,
                        service::Processes* processes = nullptr)
      : connected_marker_(std::move(connected_marker)),
        listeners_(listeners ? listeners : &machine_listeners_),
        processes_(processes ? processes : &machine_processes_) {}

  PortCheck CheckPort(std::uint16_t port) override;
  platform::Expected<service::ServiceSearch> FindService() override;
  bool MarkerPresent() override;
  void RemoveConnectedMarker() override;
  void KeepConnectedMarker() override;
  // Watches the marker's folder for files created, renamed or written in it
  // (not in its subfolders). When there is no folder (no install root) or it
  // cannot be watched, a debug line says why and the watch only sleeps.
  std::unique_ptr<FolderWatch> WatchMarkerFolder() override;
  std::unique_ptr<FolderWatch> WatchNothing() override;

 private:
  std::wstring connected_marker_;
  port::MachineListenerSteps machine_listeners_;
  service::MachineProcesses machine_processes_;
  port::ListenerSteps* listeners_;
  service::Processes* processes_;
  std::optional<install::LeftoverMarker> leftover_;
};

}  // namespace starter::app
