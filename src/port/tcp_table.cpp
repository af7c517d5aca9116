#include "port/tcp_table.h"

#include <algorithm>
#include <cstring>

namespace starter::port {

template <typename Row>
bool HasTcpRow(const unsigned char* table, std::size_t size, std::uint16_t port,
               std::uint32_t state, NetworkToHost16 to_host) {
  std::uint32_t count = 0;
  if (size < sizeof(count)) return false;
  std::memcpy(&count, table, sizeof(count));
  const std::size_t rows_held = (size - sizeof(count)) / sizeof(Row);
  const std::size_t rows = std::min<std::size_t>(count, rows_held);
  for (std::size_t i = 0; i < rows; ++i) {
    // Copied out: the rows of a byte buffer need not be aligned for the struct.
    Row row;
    std::memcpy(&row, table + sizeof(count) + i * sizeof(row), sizeof(row));
    const auto local_port = to_host(static_cast<std::uint16_t>(row.local_port & 0xFFFFu));
    if (row.state == state && local_port == port) return true;
  }
  return false;
}

template bool HasTcpRow<TcpRowImage>(const unsigned char*, std::size_t, std::uint16_t,
                                     std::uint32_t, NetworkToHost16);
template bool HasTcpRow<Tcp6RowImage>(const unsigned char*, std::size_t, std::uint16_t,
                                      std::uint32_t, NetworkToHost16);

}  // namespace starter::port
