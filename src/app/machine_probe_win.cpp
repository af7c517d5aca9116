#include "app/readiness_wait.h"

#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "install/markers.h"
#include "log/diag_log.h"
#include "log/log_text.h"
#include "platform/file_facts.h"
#include "platform/handles.h"
#include "platform/system_facts.h"
#include "port/tcp_table.h"
#include "service/process_detection.h"

namespace starter::app {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;

DWORD ToDword(milliseconds span) { return span.count() > 0 ? static_cast<DWORD>(span.count()) : 0; }

// Without a notification (none could be made, or it ended) the watch sleeps.
class ChangeNotificationWatch final : public FolderWatch {
 public:
  explicit ChangeNotificationWatch(platform::UniqueChangeNotification notification = {})
      : notification_(std::move(notification)) {}

  microseconds Now() override {
    return std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now().time_since_epoch());
  }

  bool WaitForChange(milliseconds timeout) override {
    if (!notification_) {
      Pause(timeout);
      return false;
    }
    const DWORD result = ::WaitForSingleObject(notification_.get(), ToDword(timeout));
    if (result == WAIT_TIMEOUT) return false;
    if (result == WAIT_OBJECT_0 && ::FindNextChangeNotification(notification_.get())) return true;
    // A notification that can no longer be waited on or armed (its folder was
    // removed, say) ends the watch; the rest of the wait is plain sleeps.
    log::Debug("folder watch ended: {}", Describe(platform::LastError(
                                          result == WAIT_OBJECT_0 ? "FindNextChangeNotification" : "WaitForSingleObject")));
    notification_.reset();
    if (result == WAIT_OBJECT_0) return true;
    Pause(timeout);
    return false;
  }

  void Pause(milliseconds duration) override { ::Sleep(ToDword(duration)); }

 private:
  platform::UniqueChangeNotification notification_;
};

// The name of the process with `process_id`, as the process list gives it;
// "?" when it has ended or the list cannot be had.
std::string ImageNameOf(std::uint32_t process_id) {
  const platform::Expected<std::vector<platform::ProcessEntry>> processes = platform::ListProcesses();
  if (!processes.ok()) return "?";
  const auto found = std::find_if(processes->begin(), processes->end(),
                                  [process_id](const platform::ProcessEntry& entry) { return entry.id == process_id; });
  return found == processes->end() ? "?" : log::WideToUtf8(found->image_name);
}

}  // namespace

// Only IPv4 listeners count: the service listens on IPv4.
PortCheck MachineProbe::CheckPort(std::uint16_t port) {
  const platform::Expected<std::vector<port::PortListener>> listeners = port::ListenersOn(port);
  if (!listeners.ok()) {
    // Debug only: the check runs in every poll, and the next poll asks again.
    log::Debug("{}", Describe(listeners.error()));
    return {};
  }
  std::vector<std::uint32_t> owners;
  for (const port::PortListener& listener : *listeners)
    if (!listener.ipv6) owners.push_back(listener.owner_id);
  if (owners.empty()) return {};
  const bool service = std::any_of(owners.begin(), owners.end(),
                                   [this](std::uint32_t owner) { return owner == 0 || IsRunning(owner); });
  if (service) return {true, {}};
  // The image name is another program's: it is shown with its controls escaped.
  return {false, "port " + std::to_string(port) + " held by process " + std::to_string(owners.front()) + " (" +
                     log::EscapeControls(ImageNameOf(owners.front())) + "), no Vantic service"};
}

bool MachineProbe::IsRunning(std::uint32_t process_id) { return service::IsServiceProcessRunning(process_id); }

bool MachineProbe::ServiceRunning() { return IsRunning(0); }

bool MachineProbe::MarkerPresent() { return install::IsConnectedMarkerPresent(connected_marker_, leftover_); }

void MachineProbe::RemoveConnectedMarker() { leftover_ = install::RemoveConnectedMarker(connected_marker_); }

std::unique_ptr<FolderWatch> MachineProbe::WatchMarkerFolder() {
  const std::wstring folder(platform::SplitPath(connected_marker_).folder);
  if (folder.empty()) {
    log::Debug("no folder watch: install root unknown");
    return WatchNothing();
  }
  platform::UniqueChangeNotification notification(::FindFirstChangeNotificationW(folder.c_str(), FALSE, kChanges));
  if (!notification) {
    log::Debug(L"no folder watch on {} GLE={}", folder, ::GetLastError());
    return WatchNothing();
  }
  return std::make_unique<ChangeNotificationWatch>(std::move(notification));
}

std::unique_ptr<FolderWatch> MachineProbe::WatchNothing() { return std::make_unique<ChangeNotificationWatch>(); }

}  // namespace starter::app
