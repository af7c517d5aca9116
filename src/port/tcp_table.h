#pragma once
// The IPv4 connection table as IP Helper fills it for the owner-pid class: a
// 32-bit entry count followed by rows of six 32-bit fields. Reading it is kept
// apart from the system call so the walk can be checked on hand-made tables.
#include <cstddef>
#include <cstdint>

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

constexpr std::uint32_t kTcpStateListen = 2;

// The system's network-to-host conversion of a 16-bit value (ntohs).
using NetworkToHost16 = std::uint16_t (*)(std::uint16_t);

// Whether the table in `table` (`size` bytes) holds a listening row whose
// local port is `port`. Rows the entry count claims but `size` does not hold
// are never read.
bool HasListeningRow(const unsigned char* table, std::size_t size, std::uint16_t port,
                     NetworkToHost16 to_host);

}  // namespace starter::port
