#include "port/tcp_table.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstddef>
#include <vector>

#include "platform/system_facts.h"

namespace starter::port {
namespace {

// The row images read the system's rows: same size, the fields read at the
// same places.
static_assert(sizeof(TcpRowImage) == sizeof(MIB_TCPROW_OWNER_PID));
static_assert(offsetof(TcpRowImage, state) == offsetof(MIB_TCPROW_OWNER_PID, dwState));
static_assert(offsetof(TcpRowImage, local_port) == offsetof(MIB_TCPROW_OWNER_PID, dwLocalPort));
static_assert(sizeof(TcpBasicRowImage) == sizeof(MIB_TCPROW));
static_assert(offsetof(TcpBasicRowImage, state) == offsetof(MIB_TCPROW, dwState));
static_assert(offsetof(TcpBasicRowImage, local_port) == offsetof(MIB_TCPROW, dwLocalPort));
static_assert(sizeof(Tcp6BasicRowImage) == sizeof(MIB_TCP6ROW));
static_assert(offsetof(Tcp6BasicRowImage, state) == offsetof(MIB_TCP6ROW, State));
static_assert(offsetof(Tcp6BasicRowImage, local_port) == offsetof(MIB_TCP6ROW, dwLocalPort));
static_assert(offsetof(MIB_TCP6TABLE, table) == sizeof(DWORD));
static_assert(sizeof(Tcp6RowImage) == sizeof(MIB_TCP6ROW_OWNER_PID));
static_assert(offsetof(Tcp6RowImage, state) == offsetof(MIB_TCP6ROW_OWNER_PID, dwState));
static_assert(offsetof(Tcp6RowImage, local_port) == offsetof(MIB_TCP6ROW_OWNER_PID, dwLocalPort));
static_assert(offsetof(TcpRowImage, owning_process_id) == offsetof(MIB_TCPROW_OWNER_PID, dwOwningPid));
static_assert(offsetof(Tcp6RowImage, owning_process_id) == offsetof(MIB_TCP6ROW_OWNER_PID, dwOwningPid));
static_assert(offsetof(MIB_TCP6TABLE_OWNER_PID, table) == sizeof(DWORD));
static_assert(kTcpStateListen == MIB_TCP_STATE_LISTEN);
static_assert(kTcpStateEstablished == MIB_TCP_STATE_ESTAB);

// The IP helper library is no known system DLL, so an import of it would be
// looked for beside the program first, where any local user may have put a
// file of that name; it is loaded by its full path in the system folder
// instead, once, on first use.
using GetExtendedTcpTableFn = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);
using GetTcp6TableFn = ULONG(WINAPI*)(PMIB_TCP6TABLE, PULONG, BOOL);

struct IpHelper {
  DWORD load_error = ERROR_MOD_NOT_FOUND;
  GetExtendedTcpTableFn get_extended_tcp_table = nullptr;
  GetTcp6TableFn get_tcp6_table = nullptr;
};

IpHelper Load() {
  IpHelper helper;
  const std::wstring system = platform::SystemDirectory();
  if (system.empty()) return helper;
  // Kept loaded for the life of the process, as an import would be.
  const HMODULE library = ::LoadLibraryExW((system + L"\\iphlpapi.dll").c_str(), nullptr, 0);
  if (!library) {
    helper.load_error = ::GetLastError();
    return helper;
  }
  helper.get_extended_tcp_table = reinterpret_cast<GetExtendedTcpTableFn>(
      reinterpret_cast<void*>(::GetProcAddress(library, "GetExtendedTcpTable")));
  helper.get_tcp6_table =
      reinterpret_cast<GetTcp6TableFn>(reinterpret_cast<void*>(::GetProcAddress(library, "GetTcp6Table")));
  helper.load_error = helper.get_extended_tcp_table && helper.get_tcp6_table ? ERROR_SUCCESS : ERROR_PROC_NOT_FOUND;
  // cppcheck-suppress resourceLeak ; the library stays loaded on purpose
  return helper;
}

// One table of the system's IP helper: the listeners with owners, or every
// row without them (GetExtendedTcpTable has no such class for IPv6:
// GetTcp6Table gives it); ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND when
// the library or a function cannot be had.
DWORD FillTableOfSystem(void* table, DWORD* size, ULONG family, TableRows rows) {
  static const IpHelper helper = Load();
  if (helper.load_error != ERROR_SUCCESS) return helper.load_error;
  if (rows == TableRows::kListeners)
    return helper.get_extended_tcp_table(table, size, TRUE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
  if (family == AF_INET) return helper.get_extended_tcp_table(table, size, TRUE, family, TCP_TABLE_BASIC_ALL, 0);
  ULONG system_size = *size;
  const ULONG result = helper.get_tcp6_table(static_cast<PMIB_TCP6TABLE>(table), &system_size, TRUE);
  *size = system_size;
  return result;
}

// The machine's table of one address family.
platform::Expected<std::vector<unsigned char>> ReadMachineTable(ULONG family, TableRows rows) {
  return ReadTcpTable([family, rows](void* buffer, std::uint32_t* size) {
    DWORD system_size = *size;
    const DWORD result = FillTableOfSystem(buffer, &system_size, family, rows);
    *size = system_size;
    return static_cast<std::uint32_t>(result);
  });
}

}  // namespace

platform::Expected<TcpTables> ReadMachineTcpTables(TableRows rows) {
  platform::Expected<std::vector<unsigned char>> v4 = ReadMachineTable(AF_INET, rows);
  if (!v4.ok()) return v4.error();
  platform::Expected<std::vector<unsigned char>> v6 = ReadMachineTable(AF_INET6, rows);
  if (!v6.ok()) return v6.error();
  return TcpTables{std::move(*v4), std::move(*v6), rows};
}

platform::Expected<std::vector<PortListener>> ListenersOn(std::uint16_t port, IpFamilies families) {
  TcpTables tables;
  platform::Expected<std::vector<unsigned char>> v4 = ReadMachineTable(AF_INET, TableRows::kListeners);
  if (!v4.ok()) return v4.error();
  tables.v4 = std::move(*v4);
  if (families == IpFamilies::kIpv4AndIpv6) {
    platform::Expected<std::vector<unsigned char>> v6 = ReadMachineTable(AF_INET6, TableRows::kListeners);
    if (!v6.ok()) return v6.error();
    tables.v6 = std::move(*v6);
  }
  return ListenersIn(tables, port);
}

platform::Expected<std::vector<PortListener>> MachineListenerSteps::Listeners(std::uint16_t port) {
  return ListenersOn(port, IpFamilies::kIpv4);
}

}  // namespace starter::port
