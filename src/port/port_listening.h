#pragma once
#include <cstdint>
#include <vector>

#include "platform/system_error.h"
#include "port/netstat_listing.h"
#include "port/port_availability.h"
#include "port/tcp_table.h"

namespace starter::port {

// Whether some process on the machine has an IPv4 TCP socket listening on
// `port`. Takes a fresh copy of the system's table on every call and logs nothing.
bool IsPortListening(std::uint16_t port);

// The machine's IPv4 and IPv6 tables, every state, with owner ids; the
// failure when a table cannot be read. Logs nothing.
platform::Expected<TcpTables> ReadMachineTcpTables();

// Whether the machine's `tables` hold an established TCP connection, IPv4 or
// IPv6, whose local port is `port`. The tables name states by number where
// netstat prints them in the system's language.
bool IsPortConnected(const TcpTables& tables, std::uint16_t port);

// The machine's `tables` judged for `port` as a listing of them would be (JudgeTcpTables).
ListingVerdict JudgeMachineTables(const TcpTables& tables, std::uint16_t port);

// The machine's tables read and judged for `port` (JudgeMachineTables); the
// failure when a table cannot be read. Logs nothing.
platform::Expected<ListingVerdict> JudgePortFromTables(std::uint16_t port);

// Every socket listening on `port` on the machine, IPv4 and IPv6, with its
// owner; the failure when a table cannot be read. Logs nothing.
platform::Expected<std::vector<PortListener>> ListenersOn(std::uint16_t port);

// Binds an IPv4 TCP socket to `port` on the loopback address, with no reuse
// options, and closes it at once. The service listens on IPv4, and a port
// the system reserves refuses every address: the loopback one answers for
// all of them without the socket ever being reachable from outside.
BindOutcome TryBindPort(std::uint16_t port);

}  // namespace starter::port
