#include "port/port_listening.h"

#include "platform/win.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <memory>
#include <new>

#include "port/tcp_table.h"

namespace starter::port {
namespace {

DWORD FillTcpTable(void* table, DWORD& size) {
  return ::GetExtendedTcpTable(table, &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
}

}  // namespace

bool IsPortListening(std::uint16_t port) {
  DWORD size = 0;
  FillTcpTable(nullptr, size);
  std::unique_ptr<unsigned char[]> table(new (std::nothrow) unsigned char[size]);
  // A table that grew since its size was reported fails to fill; its rows are
  // not read, and the callers poll again shortly anyway.
  if (!table || FillTcpTable(table.get(), size) != NO_ERROR) return false;
  return HasListeningRow(table.get(), size, port,
                         [](std::uint16_t value) -> std::uint16_t { return ntohs(value); });
}

}  // namespace starter::port
