#include "port/tcp_table.h"

#include <algorithm>
#include <cstring>

namespace starter::port {
namespace {

constexpr std::uint32_t kNoError = 0;
constexpr std::uint32_t kInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
// 680 IPv4 or 292 IPv6 rows.
constexpr std::uint32_t kFirstBufferSize = 16384;
// Fills after the first. A few fresh tries keep a busy machine from costing
// a whole 100 ms poll.
constexpr int kRefills = 3;

// Calls `visit` with each row the table holds, in table order, until it
// answers true; whether it did.
template <typename Row, typename Visit>
bool AnyRow(const unsigned char* table, std::size_t size, Visit&& visit) {
  std::uint32_t count = 0;
  if (size < sizeof(count)) return false;
  std::memcpy(&count, table, sizeof(count));
  const std::size_t rows_held = (size - sizeof(count)) / sizeof(Row);
  const std::size_t rows = std::min<std::size_t>(count, rows_held);
  for (std::size_t i = 0; i < rows; ++i) {
    // Copied out: the rows of a byte buffer need not be aligned for the struct.
    Row row;
    std::memcpy(&row, table + sizeof(count) + i * sizeof(row), sizeof(row));
    if (visit(row)) return true;
  }
  return false;
}

template <typename Row>
std::uint16_t LocalPort(const Row& row, NetworkToHost16 to_host) {
  return to_host(static_cast<std::uint16_t>(row.local_port & 0xFFFFu));
}

// Appends each row of `table` listening on `port`.
template <typename Row>
void AddListeners(const std::vector<unsigned char>& table, std::uint16_t port, NetworkToHost16 to_host, bool ipv6,
                  std::vector<PortListener>& listeners) {
  AnyRow<Row>(table.data(), table.size(), [&](const Row& row) {
    if (row.state == kTcpStateListen && LocalPort(row, to_host) == port)
      listeners.push_back({row.owning_process_id, ipv6});
    return false;
  });
}

}  // namespace

template <typename Row>
bool HasTcpRow(const unsigned char* table, std::size_t size, std::uint16_t port,
               std::uint32_t state, NetworkToHost16 to_host) {
  return AnyRow<Row>(table, size,
                     [&](const Row& row) { return row.state == state && LocalPort(row, to_host) == port; });
}

template bool HasTcpRow<TcpRowImage>(const unsigned char*, std::size_t, std::uint16_t,
                                     std::uint32_t, NetworkToHost16);
template bool HasTcpRow<Tcp6RowImage>(const unsigned char*, std::size_t, std::uint16_t,
                                      std::uint32_t, NetworkToHost16);

std::vector<PortListener> ListenersIn(const TcpTables& tables, std::uint16_t port, NetworkToHost16 to_host) {
  std::vector<PortListener> listeners;
  AddListeners<TcpRowImage>(tables.v4, port, to_host, false, listeners);
  AddListeners<Tcp6RowImage>(tables.v6, port, to_host, true, listeners);
  return listeners;
}

bool HasEstablishedRow(const TcpTables& tables, std::uint16_t port, NetworkToHost16 to_host) {
  return HasTcpRow<TcpRowImage>(tables.v4.data(), tables.v4.size(), port, kTcpStateEstablished, to_host) ||
         HasTcpRow<Tcp6RowImage>(tables.v6.data(), tables.v6.size(), port, kTcpStateEstablished, to_host);
}

ListingVerdict JudgeTcpTables(const TcpTables& tables, std::uint16_t port, NetworkToHost16 to_host) {
  using Ask = ListingVerdict::Ask;
  if (const std::vector<PortListener> listeners = ListenersIn(tables, port, to_host); !listeners.empty())
    return {Ask::kOwner, listeners.front().owner_id};
  return {HasEstablishedRow(tables, port, to_host) ? Ask::kAnyService : Ask::kNothing, 0};
}

platform::Expected<std::vector<unsigned char>> ReadTcpTable(const FillTcpTable& fill) {
  std::vector<unsigned char> table;
  std::uint32_t size = kFirstBufferSize;
  for (int refills = 0;; ++refills) {
    table.resize(size);
    const std::uint32_t result = fill(table.data(), &size);
    if (result == kNoError) return table;
    if (result != kInsufficientBuffer || refills == kRefills)
      return platform::SystemError{"GetExtendedTcpTable", result};
  }
}

}  // namespace starter::port
