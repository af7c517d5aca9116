#include "port/server_port.h"

#include <windows.h>

#include "contract/product_contract.h"
#include "platform/handles.h"

namespace starter::port {
namespace {

// What a registry call that answers its result came to.
platform::Status RegistryAnswer(LSTATUS result, const char* call) {
  if (result == ERROR_SUCCESS) return {};
  return platform::SystemError{call, static_cast<std::uint32_t>(result)};
}

}  // namespace

platform::Expected<std::uint32_t> ReadServerPort(RegistryView view) {
  platform::UniqueKey key;
  const REGSAM view_flag = view == RegistryView::k64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  if (const platform::Status opened = RegistryAnswer(
          ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, contract::kServicePortKey, 0, KEY_READ | view_flag, key.put()),
          kOpenKeyCall);
      !opened.ok())
    return opened.error();
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  // Data longer than four bytes fails here with ERROR_MORE_DATA.
  if (const platform::Status queried = RegistryAnswer(
          ::RegQueryValueExW(key.get(), contract::kServicePortValue, nullptr, &type, reinterpret_cast<BYTE*>(&data),
                             &size),
          kQueryValueCall);
      !queried.ok())
    return queried.error();
  if (type != REG_DWORD) return platform::SystemError{kQueryValueCall, platform::kErrorDatatypeMismatch};
  return std::uint32_t{data};
}

platform::Status WriteServerPort(std::uint32_t port) {
  platform::UniqueKey key;
  DWORD disposition = 0;  // stays 0 when a failed call reports none
  const LSTATUS created = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, contract::kServicePortKey, 0, nullptr,
                                            REG_OPTION_NON_VOLATILE, KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.put(),
                                            &disposition);
  if (const platform::Status made =
          RegistryAnswer(created, disposition == REG_CREATED_NEW_KEY ? kCreatedKeyCall : kCreateKeyCall);
      !made.ok())
    return made;
  const DWORD data = port;
  return RegistryAnswer(
      ::RegSetKeyValueW(key.get(), nullptr, contract::kServicePortValue, REG_DWORD, &data, sizeof(data)),
      kSetValueCall);
}

}  // namespace starter::port
