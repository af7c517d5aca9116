#include "port/server_port.h"

#include <windows.h>

#include "contract/product_contract.h"
#include "platform/handles.h"

namespace starter::port {

platform::Expected<std::uint32_t> ReadServerPort(RegistryView view) {
  platform::UniqueKey key;
  const REGSAM view_flag = view == RegistryView::k64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  const LSTATUS open_result = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, contract::kServicePortKey, 0, KEY_READ | view_flag, key.put());
  if (open_result != ERROR_SUCCESS) return platform::SystemError{kOpenKeyCall, static_cast<std::uint32_t>(open_result)};
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  // Data longer than four bytes fails here with ERROR_MORE_DATA.
  const LSTATUS query_result =
      ::RegQueryValueExW(key.get(), contract::kServicePortValue, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (query_result != ERROR_SUCCESS) return platform::SystemError{kQueryValueCall, static_cast<std::uint32_t>(query_result)};
  if (type != REG_DWORD) return platform::SystemError{kQueryValueCall, platform::kErrorDatatypeMismatch};
  return std::uint32_t{data};
}

}  // namespace starter::port
