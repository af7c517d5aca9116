#pragma once
#include <cstdint>
#include <string>

#include "app/caller_mode.h"

namespace starter::app {

// Dispatches on the caller's arguments, waits for the service as that caller
// needs and prints its status line on standard output.
void CheckCase(int argc, char** argv, std::uint16_t port, const std::wstring& connected_marker,
               const ResultLines& lines);

}  // namespace starter::app
