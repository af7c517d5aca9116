#include "app/readiness_wait.h"

#include <windows.h>

#include <utility>

#include "install/markers.h"
#include "log/diag_log.h"
#include "platform/file_facts.h"
#include "platform/handles.h"
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

}  // namespace

PortCheck MachineProbe::CheckPort(std::uint16_t port) {
  const platform::Expected<std::vector<port::PortListener>> listeners = listeners_->Listeners(port);
  if (!listeners.ok()) {
    // Debug only: the check runs in every poll, and the next poll asks again.
    log::Debug("{}", Describe(listeners.error()));
    return {};
  }
  // Without the process list, a listener may be another program's: the
  // poll is no answer, and its words say why.
  const platform::Expected<port::PortHolding> holding = port::JudgeHolder(*listeners, *processes_);
  if (!holding.ok()) return {false, ProcessListUnread(holding.error())};
  if (holding->ServiceMayListen()) return {true, {}};
  return {false, port::HolderWords(port, *holding)};
}

platform::Expected<service::ServiceSearch> MachineProbe::FindService() { return processes_->FindService(); }

bool MachineProbe::MarkerPresent() { return install::IsConnectedMarkerPresent(connected_marker_, leftover_); }

void MachineProbe::RemoveConnectedMarker() { leftover_ = install::RemoveConnectedMarker(connected_marker_); }

void MachineProbe::KeepConnectedMarker() { leftover_ = install::KeepConnectedMarker(connected_marker_); }

std::unique_ptr<FolderWatch> MachineProbe::WatchMarkerFolder() {
  const std::wstring folder(platform::SplitPath(connected_marker_).folder);
  if (folder.empty()) {
    log::Debug("no folder watch: install root unknown");
    return WatchNothing();
  }
  platform::Expected<platform::UniqueChangeNotification> notification =
      STARTER_OPEN(platform::UniqueChangeNotification, FindFirstChangeNotificationW, folder.c_str(), FALSE, kChanges);
  if (!notification.ok()) {
    log::Debug(L"no folder watch on {} GLE={}", folder, notification.error().code);
    return WatchNothing();
  }
  return std::make_unique<ChangeNotificationWatch>(std::move(*notification));
}

std::unique_ptr<FolderWatch> MachineProbe::WatchNothing() { return std::make_unique<ChangeNotificationWatch>(); }

}  // namespace starter::app
