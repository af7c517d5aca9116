#pragma once
#include <cstdint>

#include "port/availability_decision.h"

namespace starter::port {

// Binds an IPv4 TCP socket to `port` on the loopback address, with no reuse
// options, and closes it at once. The service listens on IPv4, and a port
// the system reserves refuses every address: the loopback one answers for
// all of them without the socket ever being reachable from outside.
BindOutcome TryBindPort(std::uint16_t port);

}  // namespace starter::port
