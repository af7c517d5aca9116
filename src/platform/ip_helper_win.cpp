#include "platform/ip_helper.h"

#include "platform/system_folders.h"

namespace starter::platform {
namespace {

using GetExtendedTcpTableFn = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);

struct IpHelper {
  DWORD load_error = ERROR_MOD_NOT_FOUND;
  GetExtendedTcpTableFn get_extended_tcp_table = nullptr;
};

IpHelper Load() {
  IpHelper helper;
  const std::wstring system = SystemDirectory();
  if (system.empty()) return helper;
  // Kept loaded for the life of the process, as an import would be.
  const HMODULE library = ::LoadLibraryExW((system + L"\\iphlpapi.dll").c_str(), nullptr, 0);
  if (!library) {
    helper.load_error = ::GetLastError();
    return helper;
  }
  helper.get_extended_tcp_table = reinterpret_cast<GetExtendedTcpTableFn>(
      reinterpret_cast<void*>(::GetProcAddress(library, "GetExtendedTcpTable")));
  helper.load_error = helper.get_extended_tcp_table ? ERROR_SUCCESS : ERROR_PROC_NOT_FOUND;
  // cppcheck-suppress resourceLeak ; the library stays loaded on purpose
  return helper;
}

}  // namespace

DWORD GetExtendedTcpTableOfSystem(void* table, DWORD* size, BOOL sorted, ULONG family, TCP_TABLE_CLASS table_class) {
  static const IpHelper helper = Load();
  if (!helper.get_extended_tcp_table) return helper.load_error;
  return helper.get_extended_tcp_table(table, size, sorted, family, table_class, 0);
}

}  // namespace starter::platform
