#include "port/port_listening.h"

#include "platform/win.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <memory>
#include <new>

#include "port/tcp_table.h"

namespace starter::port {
namespace {

// Sizing and filling are separate calls, and the machine's table may grow
// in between. A few fresh tries keep a busy machine from costing a whole
// 100 ms poll; a failed fill never has its rows read.
constexpr int kFillTries = 3;

DWORD FillTcpTable(void* table, DWORD& size) {
  return ::GetExtendedTcpTable(table, &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
}

}  // namespace

bool IsPortListening(std::uint16_t port) {
  for (int attempt = 0; attempt < kFillTries; ++attempt) {
    DWORD size = 0;
    FillTcpTable(nullptr, size);
    std::unique_ptr<unsigned char[]> table(new (std::nothrow) unsigned char[size]);
    if (!table) return false;
    const DWORD result = FillTcpTable(table.get(), size);
    if (result == NO_ERROR) {
      return HasListeningRow(table.get(), size, port,
                             [](std::uint16_t value) -> std::uint16_t { return ntohs(value); });
    }
    if (result != ERROR_INSUFFICIENT_BUFFER) return false;
  }
  return false;
}

}  // namespace starter::port
