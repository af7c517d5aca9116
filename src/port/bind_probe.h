#pragma once
// Whether the system lets a program bind a port: a port it reserves (excluded
// port ranges of Hyper-V, WSL2 or Docker) appears in no listing, and only a
// refused bind tells it apart from a free one.
#include <cstdint>

namespace starter::port {

// What binding a socket to the port, and closing it at once, came to.
enum class BindOutcome {
  kBound,
  kRefused,  // WSAEACCES: the system keeps the port from programs (excluded port ranges)
  kFailed,   // any other failure, including one to set the socket up
};

// Binds an IPv4 TCP socket to `port` on the loopback address, with no reuse
// options, and closes it at once. The service listens on IPv4, and a port
// the system reserves refuses every address: the loopback one answers for
// all of them without the socket ever being reachable from outside.
BindOutcome TryBindPort(std::uint16_t port);

}  // namespace starter::port
