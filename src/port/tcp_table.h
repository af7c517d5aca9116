#pragma once
// The connection tables as IP Helper fills them for the owner-pid class: a
// 32-bit entry count followed by fixed-size rows, one layout for IPv4 and one
// for IPv6. Reading them is kept apart from the system call so the walk can be
// checked on hand-made tables.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/system_error.h"
#include "port/netstat_listing.h"

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

constexpr std::uint32_t kTcpStateListen = 2;
constexpr std::uint32_t kTcpStateEstablished = 5;

// The system's network-to-host conversion of a 16-bit value (ntohs).
using NetworkToHost16 = std::uint16_t (*)(std::uint16_t);

// Whether the table in `table` (`size` bytes, rows laid out as `Row`) holds a
// row in `state` whose local port is `port`. Rows the entry count claims but
// `size` does not hold are never read.
template <typename Row>
bool HasTcpRow(const unsigned char* table, std::size_t size, std::uint16_t port,
               std::uint32_t state, NetworkToHost16 to_host);

extern template bool HasTcpRow<TcpRowImage>(const unsigned char*, std::size_t, std::uint16_t,
                                            std::uint32_t, NetworkToHost16);
extern template bool HasTcpRow<Tcp6RowImage>(const unsigned char*, std::size_t, std::uint16_t,
                                             std::uint32_t, NetworkToHost16);

// The IPv4 and the IPv6 table of the machine, as read.
struct TcpTables {
  std::vector<unsigned char> v4;
  std::vector<unsigned char> v6;
};

// A socket listening on a port, as the tables give it.
struct PortListener {
  std::uint32_t owner_id = 0;  // 0 where the system names no owner
  bool ipv6 = false;
};

// Every row listening on `port`, IPv4 rows first, in table order.
std::vector<PortListener> ListenersIn(const TcpTables& tables, std::uint16_t port, NetworkToHost16 to_host);

// Whether either table holds an established connection whose local port is `port`.
bool HasEstablishedRow(const TcpTables& tables, std::uint16_t port, NetworkToHost16 to_host);

// What the tables say of `port`, in the terms a listing is judged in: the
// first row listening on it (IPv4 rows first, as netstat prints them) asks
// for its owner, whose id is 0 where the system names none; without one, an
// established connection through it asks for any service; else nothing.
ListingVerdict JudgeTcpTables(const TcpTables& tables, std::uint16_t port, NetworkToHost16 to_host);

// GetExtendedTcpTable for one table: fills `buffer` (null for the size
// query) of `*size` bytes, or sets `*size` to what the table needs; returns
// the system's result code.
using FillTcpTable = std::function<std::uint32_t(void* buffer, std::uint32_t* size)>;

// Fills a buffer large enough for the tables of most machines, so one call
// usually does; each call into the IP helper costs about 3 ms under wine. A
// table too large for it, or one that grew since the size was reported, is
// filled again at the size the system reports, a few times before the read
// gives up. The rows of a failed fill are never handed back.
platform::Expected<std::vector<unsigned char>> ReadTcpTable(const FillTcpTable& fill);

}  // namespace starter::port
