#pragma once
// The connection tables as IP Helper fills them for the owner-pid classes: a
// 32-bit entry count followed by fixed-size rows, one layout for IPv4 and one
// for IPv6. Reading them is kept apart from the system call so the walk can be
// checked on hand-made tables.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/system_error.h"

namespace starter::port {

struct TcpRowImage {
  std::uint32_t state;
  std::uint32_t local_address;
  std::uint32_t local_port;  // network byte order, in the low 16 bits
  std::uint32_t remote_address;
  std::uint32_t remote_port;
  std::uint32_t owning_process_id;
};
static_assert(sizeof(TcpRowImage) == 24, "rows are six 32-bit fields");

// An IPv4 row of the basic classes, which name no owner.
struct TcpBasicRowImage {
  std::uint32_t state;
  std::uint32_t local_address;
  std::uint32_t local_port;  // network byte order, in the low 16 bits
  std::uint32_t remote_address;
  std::uint32_t remote_port;
};
static_assert(sizeof(TcpBasicRowImage) == 20, "rows are five 32-bit fields");

struct Tcp6RowImage {
  std::uint8_t local_address[16];
  std::uint32_t local_scope_id;
  std::uint32_t local_port;  // network byte order, in the low 16 bits
  std::uint8_t remote_address[16];
  std::uint32_t remote_scope_id;
  std::uint32_t remote_port;
  std::uint32_t state;
  std::uint32_t owning_process_id;
};
static_assert(sizeof(Tcp6RowImage) == 56, "two addresses of 16 bytes and six 32-bit fields");

// An IPv6 row of GetTcp6Table, which names no owner.
struct Tcp6BasicRowImage {
  std::uint32_t state;
  std::uint8_t local_address[16];
  std::uint32_t local_scope_id;
  std::uint32_t local_port;  // network byte order, in the low 16 bits
  std::uint8_t remote_address[16];
  std::uint32_t remote_scope_id;
  std::uint32_t remote_port;
};
static_assert(sizeof(Tcp6BasicRowImage) == 52, "two addresses of 16 bytes and five 32-bit fields");

constexpr std::uint32_t kTcpStateListen = 2;
constexpr std::uint32_t kTcpStateEstablished = 5;

// Whether the table in `table` (`size` bytes, rows laid out as `Row`) holds a
// row in `state` whose local port is `port`. Rows the entry count claims but
// `size` does not hold are never read.
template <typename Row>
bool HasTcpRow(const unsigned char* table, std::size_t size, std::uint16_t port, std::uint32_t state);

extern template bool HasTcpRow<TcpRowImage>(const unsigned char*, std::size_t, std::uint16_t, std::uint32_t);
extern template bool HasTcpRow<TcpBasicRowImage>(const unsigned char*, std::size_t, std::uint16_t, std::uint32_t);
extern template bool HasTcpRow<Tcp6BasicRowImage>(const unsigned char*, std::size_t, std::uint16_t, std::uint32_t);
extern template bool HasTcpRow<Tcp6RowImage>(const unsigned char*, std::size_t, std::uint16_t, std::uint32_t);

// Which rows a read asks for. Where the system resolves owners socket by
// socket (wine 8), a read of every row with owners costs seconds on a machine
// with thousands of connections, IPv6 even when it holds none of them; the
// listeners cost what the listeners cost, and every row without owners a
// fraction of that.
enum class TableRows {
  kListeners,  // the listeners, with owners (owner-pid rows)
  kAll,        // every row, without owners (basic rows)
};

// The IPv4 and the IPv6 table of the machine, as read.
struct TcpTables {
  std::vector<unsigned char> v4;
  std::vector<unsigned char> v6;
  TableRows rows = TableRows::kListeners;  // how the rows are laid out
};

// A socket listening on a port, as the tables give it.
struct PortListener {
  // None where the system names no owner: the tables then give 0 (wine 8
  // names none), which is no process that could hold a socket.
  std::optional<std::uint32_t> owner_id;
  bool ipv6 = false;
};

// Every row listening on `port`, IPv4 rows first, in table order, in tables
// of the listeners.
std::vector<PortListener> ListenersIn(const TcpTables& tables, std::uint16_t port);

// Whether either table holds an established connection whose local port is `port`.
bool HasEstablishedRow(const TcpTables& tables, std::uint16_t port);

// GetExtendedTcpTable for one table is called as `fill(buffer, &size)`: it
// fills `buffer` of `size` bytes, or sets `size` to what the table needs, and
// answers the system's result code.
//
// The first buffer is large enough for the tables of most machines, so one
// call usually does; each call into the IP helper costs about 3 ms under
// wine, 14 ms for the listeners under wine 8. A table too large for it, or
// one that grew since the size was reported, is filled again at the size the
// system reports; any other failure (a busy table may answer a transient
// one, which the next call clears) is tried again as it is. Three fills in
// all stay within a poll's budget (contract::kPollBudget) on a quiet
// machine. The rows of a failed fill are never handed back.
template <typename Fill>
platform::Expected<std::vector<unsigned char>> ReadTcpTable(Fill&& fill) {
  constexpr std::uint32_t kNoError = 0;
  constexpr int kFills = 3;
  std::vector<unsigned char> table;
  std::uint32_t size = 16384;  // 680 IPv4 or 292 IPv6 rows
  for (int fills = 1;; ++fills) {
    table.resize(size);
    const std::uint32_t result = fill(static_cast<void*>(table.data()), &size);
    if (result == kNoError) return table;
    if (fills == kFills) return platform::SystemError{"GetExtendedTcpTable", result};
    // A fill reports the size the table needs or leaves the size alone: the
    // next never has less room than this one had.
    size = std::max<std::uint32_t>(size, static_cast<std::uint32_t>(table.size()));
  }
}

// --- The machine's tables (Windows) -----------------------------------------

// The machine's IPv4 and IPv6 tables of those rows; the failure when a table
// cannot be read. Logs nothing.
platform::Expected<TcpTables> ReadMachineTcpTables(TableRows rows);

// Which tables a read of the listeners takes in.
enum class IpFamilies { kIpv4, kIpv4AndIpv6 };

// Every socket listening on `port` on the machine in those tables, with its
// owner, from the listeners' tables; the failure when a table cannot be read.
// Logs nothing.
platform::Expected<std::vector<PortListener>> ListenersOn(std::uint16_t port, IpFamilies families);

// What the starter's wait reads of the tables in each poll: the IPv4
// listeners on the port, the ones it counts. The machine's in the program,
// scripted in the tests.
class ListenerSteps {
 public:
  virtual ~ListenerSteps() = default;
  // The IPv4 listeners on `port`; what failed when they cannot be read.
  virtual platform::Expected<std::vector<PortListener>> Listeners(std::uint16_t port) = 0;
};

// The IPv4 listeners' table alone: a poll reads no more than it uses.
class MachineListenerSteps final : public ListenerSteps {
 public:
  platform::Expected<std::vector<PortListener>> Listeners(std::uint16_t port) override;
};

}  // namespace starter::port
