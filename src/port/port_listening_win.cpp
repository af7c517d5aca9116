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

// The row images read the system's rows: same size, the fields read at the
// same places.
static_assert(sizeof(TcpRowImage) == sizeof(MIB_TCPROW_OWNER_PID));
static_assert(offsetof(TcpRowImage, state) == offsetof(MIB_TCPROW_OWNER_PID, dwState));
static_assert(offsetof(TcpRowImage, local_port) == offsetof(MIB_TCPROW_OWNER_PID, dwLocalPort));
static_assert(sizeof(Tcp6RowImage) == sizeof(MIB_TCP6ROW_OWNER_PID));
static_assert(offsetof(Tcp6RowImage, state) == offsetof(MIB_TCP6ROW_OWNER_PID, dwState));
static_assert(offsetof(Tcp6RowImage, local_port) == offsetof(MIB_TCP6ROW_OWNER_PID, dwLocalPort));
static_assert(offsetof(TcpRowImage, owning_process_id) == offsetof(MIB_TCPROW_OWNER_PID, dwOwningPid));
static_assert(offsetof(Tcp6RowImage, owning_process_id) == offsetof(MIB_TCP6ROW_OWNER_PID, dwOwningPid));
static_assert(offsetof(MIB_TCP6TABLE_OWNER_PID, table) == sizeof(DWORD));
static_assert(kTcpStateListen == MIB_TCP_STATE_LISTEN);
static_assert(kTcpStateEstablished == MIB_TCP_STATE_ESTAB);

std::uint16_t NetworkToHost(std::uint16_t value) { return ntohs(value); }

// The machine's table of one address family, every state, with owner ids.
platform::Expected<std::vector<unsigned char>> ReadMachineTable(ULONG family) {
  return ReadTcpTable([family](void* buffer, std::uint32_t* size) {
    DWORD system_size = *size;
    const DWORD result =
        platform::GetExtendedTcpTableOfSystem(buffer, &system_size, TRUE, family, TCP_TABLE_OWNER_PID_ALL);
    *size = system_size;
    return static_cast<std::uint32_t>(result);
  });
}

platform::Expected<TcpTables> ReadMachineTables() {
  platform::Expected<std::vector<unsigned char>> v4 = ReadMachineTable(AF_INET);
  if (!v4) return v4.error();
  platform::Expected<std::vector<unsigned char>> v6 = ReadMachineTable(AF_INET6);
  if (!v6) return v6.error();
  return TcpTables{std::move(*v4), std::move(*v6)};
}

template <typename Row>
bool MachineHasTcpRow(ULONG family, std::uint16_t port, std::uint32_t state) {
  const platform::Expected<std::vector<unsigned char>> table = ReadMachineTable(family);
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

platform::Expected<ListingVerdict> JudgePortFromTables(std::uint16_t port) {
  const platform::Expected<TcpTables> tables = ReadMachineTables();
  if (!tables) return tables.error();
  return JudgeTcpTables(*tables, port, NetworkToHost);
}

platform::Expected<std::vector<PortListener>> ListenersOn(std::uint16_t port) {
  const platform::Expected<TcpTables> tables = ReadMachineTables();
  if (!tables) return tables.error();
  return ListenersIn(*tables, port, NetworkToHost);
}

}  // namespace starter::port
