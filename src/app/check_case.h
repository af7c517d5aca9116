#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "app/caller_mode.h"
#include "install/leftover_marker.h"

namespace starter::app {

// Dispatches on the caller's arguments, waits for the service as that caller
// needs and prints its status line on standard output. With a `leftover`
// marker from an earlier run at the marker's name, only another marker counts.
void CheckCase(int argc, char** argv, std::uint16_t port, const std::wstring& connected_marker,
               const std::optional<install::LeftoverMarker>& leftover, const ResultLines& lines);

}  // namespace starter::app
