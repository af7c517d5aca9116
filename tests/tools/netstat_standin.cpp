// netstat as "netstat -ano" prints it, for the availability check under wine,
// whose own netstat lists no connections. The rows are the bytes of the file
// named by NETSTAT_STANDIN_LISTING when it is set, so a test can show any
// listing; otherwise they are the machine's IPv4 TCP table. With
// NETSTAT_STANDIN_HANG set it prints nothing and never ends, as a listing held
// up by a hung network driver. A run leaves a trace when asked
// (tools/standin_trace.h).
#include <windows.h>

#include <winsock2.h>
#include <iphlpapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/standin_trace.h"

namespace {

const char* StateName(DWORD state) {
  static const char* const kNames[] = {
      "",           "CLOSED",     "LISTENING",  "SYN_SENT", "SYN_RECEIVED", "ESTABLISHED",
      "FIN_WAIT_1", "FIN_WAIT_2", "CLOSE_WAIT", "CLOSING",  "LAST_ACK",     "TIME_WAIT",
      "DELETE_TCB"};
  return state < sizeof(kNames) / sizeof(kNames[0]) ? kNames[state] : "UNKNOWN";
}

// Address and port fields hold their bytes in network order.
std::string Endpoint(DWORD address, DWORD port_field) {
  const auto* a = reinterpret_cast<const unsigned char*>(&address);
  const auto* p = reinterpret_cast<const unsigned char*>(&port_field);
  char text[32];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u:%u", a[0], a[1], a[2], a[3], p[0] * 256u + p[1]);
  return text;
}

std::vector<unsigned char> TcpTable(TCP_TABLE_CLASS table_class) {
  std::vector<unsigned char> table;
  DWORD size = 0;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  // The table may grow between the size query and the fill: ask again.
  while (result == ERROR_INSUFFICIENT_BUFFER) {
    table.resize(size);
    result = ::GetExtendedTcpTable(table.data(), &size, TRUE, AF_INET, table_class, 0);
  }
  if (result != NO_ERROR) table.clear();
  return table;
}

std::string Row(DWORD local_address, DWORD local_port, DWORD remote_address, DWORD remote_port,
                DWORD state, DWORD owner) {
  char line[128];
  std::snprintf(line, sizeof(line), "  %-7s%-23s%-23s%-16s%lu\r\n", "TCP",
                Endpoint(local_address, local_port).c_str(), Endpoint(remote_address, remote_port).c_str(),
                StateName(state), static_cast<unsigned long>(owner));
  return line;
}

// Whether the system names the owners of its sockets. The listener table
// with owners is cheap everywhere; every row with owners is not under wine 8,
// which names none (id 0) yet resolves them socket by socket, seconds for
// each thousand connections, where a real netstat answers at once.
bool OwnersNamed() {
  const std::vector<unsigned char> buffer = TcpTable(TCP_TABLE_OWNER_PID_LISTENER);
  if (buffer.empty()) return false;
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i)
    if (table->table[i].dwOwningPid != 0) return true;
  return false;
}

std::string OwnerRows() {
  const std::vector<unsigned char> buffer = TcpTable(TCP_TABLE_OWNER_PID_ALL);
  std::string rows;
  if (buffer.empty()) return rows;
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = table->table[i];
    rows += Row(row.dwLocalAddr, row.dwLocalPort, row.dwRemoteAddr, row.dwRemotePort, row.dwState,
                row.dwOwningPid);
  }
  return rows;
}

// Every row with owner id 0, as the system would name them.
std::string RowsWithoutOwners() {
  const std::vector<unsigned char> buffer = TcpTable(TCP_TABLE_BASIC_ALL);
  std::string rows;
  if (buffer.empty()) return rows;
  const auto* table = reinterpret_cast<const MIB_TCPTABLE*>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW& row = table->table[i];
    rows += Row(row.dwLocalAddr, row.dwLocalPort, row.dwRemoteAddr, row.dwRemotePort, row.dwState, 0);
  }
  return rows;
}

std::string TcpTableRows() { return OwnersNamed() ? OwnerRows() : RowsWithoutOwners(); }

std::string FileBytes(const char* path) {
  std::string bytes;
  if (std::FILE* file = std::fopen(path, "rb")) {
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof(chunk), file)) > 0;)
      bytes.append(chunk, got);
    std::fclose(file);
  }
  return bytes;
}

}  // namespace

int main() {
  starter::test::LeaveTrace();
  if (std::getenv("NETSTAT_STANDIN_HANG")) ::Sleep(INFINITE);
  const char* listing = std::getenv("NETSTAT_STANDIN_LISTING");
  const std::string text =
      "\r\nActive Connections\r\n\r\n"
      "  Proto  Local Address          Foreign Address        State           PID\r\n" +
      (listing && *listing ? FileBytes(listing) : TcpTableRows());
  // Raw bytes: a text-mode stdout would turn each CR LF into CR CR LF.
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
  return 0;
}
