#pragma once
// The connected marker tells callers that the service is up. One left behind
// by a service that has since ended would let the next wait report success
// before the newly launched service is ready.
#include <functional>
#include <optional>

#include "install/leftover_marker.h"

namespace starter::app {

// Removes the marker (through `remove_marker`) only when no service runs; a
// running service owns its marker and may be the one callers wait for.
// Answers the leftover the removal could not take away, if any.
std::optional<install::LeftoverMarker> ClearStaleConnectedMarker(
    bool service_running, const std::function<std::optional<install::LeftoverMarker>()>& remove_marker);

}  // namespace starter::app
