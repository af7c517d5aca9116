#include "support/capabilities.h"

#include <windows.h>

#include <winsock2.h>
#include <iphlpapi.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/system_facts.h"
#include "platform/winsock.h"
#include "support/port_env.h"
#include "support/win_test_env.h"

namespace starter::test {
namespace {

// The owner the IPv4 listener table gives for `port`; none when no row has it.
std::optional<DWORD> ListenerOwner(std::uint16_t port) {
  std::vector<unsigned char> table;
  DWORD size = 0;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  // A table that grows between the size query and the fill is asked again.
  while (result == ERROR_INSUFFICIENT_BUFFER) {
    table.resize(size);
    result = ::GetExtendedTcpTable(table.empty() ? nullptr : table.data(), &size, FALSE, AF_INET,
                                   TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  if (result != NO_ERROR || table.size() < sizeof(DWORD)) return std::nullopt;
  const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
  for (DWORD i = 0; i < rows->dwNumEntries; ++i)
    if (ntohs(static_cast<u_short>(rows->table[i].dwLocalPort)) == port) return rows->table[i].dwOwningPid;
  return std::nullopt;
}

bool AskTablesForOwner() {
  const platform::WinsockSession winsock;
  platform::UniqueSocket listener;
  const std::uint16_t port = ListenV4(listener, INADDR_LOOPBACK);
  return port != 0 && ListenerOwner(port) == ::GetCurrentProcessId();
}

// FILE_DISPOSITION_INFO_EX with DELETE | POSIX_SEMANTICS | IGNORE_READONLY_ATTRIBUTE.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDeleteAtOnce = 0x1 | 0x2 | 0x10;

bool AskForPosixDeletion() {
  const std::wstring path =
      ScratchDir() + L"\\posix_deletion_probe_" + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const auto remove_the_old_way = [&path] {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
  };
  remove_the_old_way();  // a probe that died left it read-only
  // A holder that shares deletion, as a scanner would, and a read-only file.
  const platform::UniqueHandle holder(::CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                                                    FILE_ATTRIBUTE_READONLY, nullptr));
  if (!holder) return false;
  bool gone = false;
  {
    const platform::UniqueHandle deleter(
        ::CreateFileW(path.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD flags = kDeleteAtOnce;
    gone = deleter &&
           ::SetFileInformationByHandle(deleter.get(), kFileDispositionInfoEx, &flags, sizeof(flags)) != FALSE;
  }
  gone = gone && ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
  // Where the system refused, the scratch file goes the old way.
  if (!gone) remove_the_old_way();
  return gone;
}

bool AskNtdllForWow64Reads() {
  if (!platform::RunsUnderWow64()) return false;
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "NtWow64QueryInformationProcess64") &&
         ::GetProcAddress(ntdll, "NtWow64ReadVirtualMemory64");
}

}  // namespace

bool TablesNameOwners() {
  static const bool named = AskTablesForOwner();
  return named;
}

bool DeletesWithPosixSemantics() {
  static const bool deletes = AskForPosixDeletion();
  return deletes;
}

bool ReadsProcessesFromWow64() {
  static const bool reads = AskNtdllForWow64Reads();
  return reads;
}

}  // namespace starter::test
