#include "port/tcp_table.h"

#include <algorithm>
#include <cstring>

namespace starter::port {
namespace {

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

// The port's two bytes stand first in the field, high byte first, whatever
// the host's byte order.
template <typename Row>
std::uint16_t LocalPort(const Row& row) {
  unsigned char bytes[sizeof(row.local_port)];
  std::memcpy(bytes, &row.local_port, sizeof(bytes));
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

// Appends each row of `table` listening on `port`.
template <typename Row>
void AddListeners(const std::vector<unsigned char>& table, std::uint16_t port, bool ipv6,
                  std::vector<PortListener>& listeners) {
  AnyRow<Row>(table.data(), table.size(), [&](const Row& row) {
    if (row.state != kTcpStateListen || LocalPort(row) != port) return false;
    const std::uint32_t owner = row.owning_process_id;
    listeners.push_back({owner == 0 ? std::nullopt : std::optional<std::uint32_t>(owner), ipv6});
    return false;
  });
}

}  // namespace

template <typename Row>
bool HasTcpRow(const unsigned char* table, std::size_t size, std::uint16_t port, std::uint32_t state) {
  return AnyRow<Row>(table, size, [&](const Row& row) { return row.state == state && LocalPort(row) == port; });
}

template bool HasTcpRow<TcpRowImage>(const unsigned char*, std::size_t, std::uint16_t, std::uint32_t);
template bool HasTcpRow<TcpBasicRowImage>(const unsigned char*, std::size_t, std::uint16_t, std::uint32_t);
template bool HasTcpRow<Tcp6BasicRowImage>(const unsigned char*, std::size_t, std::uint16_t, std::uint32_t);
template bool HasTcpRow<Tcp6RowImage>(const unsigned char*, std::size_t, std::uint16_t, std::uint32_t);

std::vector<PortListener> ListenersIn(const TcpTables& tables, std::uint16_t port) {
  std::vector<PortListener> listeners;
  AddListeners<TcpRowImage>(tables.v4, port, false, listeners);
  AddListeners<Tcp6RowImage>(tables.v6, port, true, listeners);
  return listeners;
}

bool HasEstablishedRow(const TcpTables& tables, std::uint16_t port) {
  if (tables.rows == TableRows::kAll) {
    return HasTcpRow<TcpBasicRowImage>(tables.v4.data(), tables.v4.size(), port, kTcpStateEstablished) ||
           HasTcpRow<Tcp6BasicRowImage>(tables.v6.data(), tables.v6.size(), port, kTcpStateEstablished);
  }
  return HasTcpRow<TcpRowImage>(tables.v4.data(), tables.v4.size(), port, kTcpStateEstablished) ||
         HasTcpRow<Tcp6RowImage>(tables.v6.data(), tables.v6.size(), port, kTcpStateEstablished);
}

}  // namespace starter::port
