#include "app/stale_marker.h"

#include "log/diag_log.h"

namespace starter::app {

void ClearStaleConnectedMarker(bool service_running, const std::function<void()>& remove_marker) {
  if (service_running) return;
  log::Info("Vantic process not exist");
  remove_marker();
}

}  // namespace starter::app
