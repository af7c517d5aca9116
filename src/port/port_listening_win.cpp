#include "port/port_listening.h"

#include "platform/win.h"

#include <winsock2.h>

#include <cstddef>
#include <vector>

#include "log/diag_log.h"
#include "platform/ip_helper.h"
#include "platform/system_error.h"
#include "port/tcp_table.h"

namespace starter::port {
namespace {

// The row images read the system's rows: same size, the two fields read at
// the same places.
static_assert(sizeof(TcpRowImage) == sizeof(MIB_TCPROW_OWNER_PID));
static_assert(offsetof(TcpRowImage, state) == offsetof(MIB_TCPROW_OWNER_PID, dwState));
static_assert(offsetof(TcpRowImage, local_port) == offsetof(MIB_TCPROW_OWNER_PID, dwLocalPort));
static_assert(sizeof(Tcp6RowImage) == sizeof(MIB_TCP6ROW_OWNER_PID));
static_assert(offsetof(Tcp6RowImage, state) == offsetof(MIB_TCP6ROW_OWNER_PID, dwState));
static_assert(offsetof(Tcp6RowImage, local_port) == offsetof(MIB_TCP6ROW_OWNER_PID, dwLocalPort));
static_assert(offsetof(MIB_TCP6TABLE_OWNER_PID, table) == sizeof(DWORD));
static_assert(kTcpStateListen == MIB_TCP_STATE_LISTEN);
static_assert(kTcpStateEstablished == MIB_TCP_STATE_ESTAB);

// Sizing and filling are separate calls, and the machine's table may grow
// in between. A few fresh tries keep a busy machine from costing a whole
// 100 ms poll; a failed fill never has its rows read.
constexpr int kFillTries = 3;

std::uint16_t NetworkToHost(std::uint16_t value) { return ntohs(value); }

// The machine's table of one address family, every state, with owner ids.
platform::Expected<std::vector<unsigned char>> ReadTcpTable(ULONG family) {
  for (int attempt = 0;; ++attempt) {
    DWORD size = 0;
    platform::GetExtendedTcpTableOfSystem(nullptr, &size, TRUE, family, TCP_TABLE_OWNER_PID_ALL);
    std::vector<unsigned char> table(size);
    const DWORD result =
        platform::GetExtendedTcpTableOfSystem(table.data(), &size, TRUE, family, TCP_TABLE_OWNER_PID_ALL);
    if (result == NO_ERROR) return table;
    if (result != ERROR_INSUFFICIENT_BUFFER || attempt + 1 == kFillTries)
      return platform::SystemError{"GetExtendedTcpTable", result};
  }
}

template <typename Row>
bool MachineHasTcpRow(ULONG family, std::uint16_t port, std::uint32_t state) {
  const platform::Expected<std::vector<unsigned char>> table = ReadTcpTable(family);
  if (!table) {
    // Debug only: the probe runs in every poll, and the next poll asks again.
    log::Debug("{}", Describe(table.error()));
    return false;
  }
  return HasTcpRow<Row>(table->data(), table->size(), port, state, NetworkToHost);
}

}  // namespace

bool IsPortListening(std::uint16_t port) {
  return MachineHasTcpRow<TcpRowImage>(AF_INET, port, kTcpStateListen);
}

bool IsPortConnected(std::uint16_t port) {
  return MachineHasTcpRow<TcpRowImage>(AF_INET, port, kTcpStateEstablished) ||
         MachineHasTcpRow<Tcp6RowImage>(AF_INET6, port, kTcpStateEstablished);
}

}  // namespace starter::port
