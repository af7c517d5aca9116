#include "app/stale_marker.h"

#include "log/diag_log.h"

namespace starter::app {

std::optional<install::LeftoverMarker> ClearStaleConnectedMarker(
    bool service_running, const std::function<std::optional<install::LeftoverMarker>()>& remove_marker) {
  if (service_running) return std::nullopt;
  log::Info("Vantic process not exist");
  return remove_marker();
}

}  // namespace starter::app
