#pragma once
#include <cstdint>

namespace starter::port {

// Whether some process on the machine has an IPv4 TCP socket listening on
// `port`. Takes a fresh copy of the system's table on every call and logs nothing.
bool IsPortListening(std::uint16_t port);

}  // namespace starter::port
