#pragma once
#include <cstdint>

namespace starter::port {

// Whether some process on the machine has an IPv4 TCP socket listening on
// `port`. Takes a fresh copy of the system's table on every call and logs nothing.
bool IsPortListening(std::uint16_t port);

// Whether the machine has an established TCP connection, IPv4 or IPv6, whose
// local port is `port`. Read from the system's tables, which name states by
// number where netstat prints them in the system's language.
bool IsPortConnected(std::uint16_t port);

}  // namespace starter::port
