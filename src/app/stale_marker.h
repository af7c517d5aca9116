#pragma once
// The connected marker tells callers that the service is up. One left behind
// by a service that has since ended would let the next wait report success
// before the newly launched service is ready.
#include <functional>

namespace starter::app {

// Removes the marker (through `remove_marker`) only when no service runs; a
// running service owns its marker and may be the one callers wait for.
void ClearStaleConnectedMarker(bool service_running, const std::function<void()>& remove_marker);

}  // namespace starter::app
