#include "port/server_port.h"

#include "platform/handles.h"

#include <string_view>

#include "log/diag_log.h"
#include "port/port_availability.h"

namespace starter::port {
namespace {

using contract::kServicePortKey;
using contract::kServicePortValue;

constexpr char kOpenCall[] = "RegOpenKeyExW";
constexpr char kQueryCall[] = "RegQueryValueExW";

}  // namespace

platform::Expected<std::uint32_t> ReadServerPort(RegistryView view) {
  platform::UniqueKey key;
  const REGSAM view_flag = view == RegistryView::k64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  const LSTATUS open_result = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServicePortKey, 0, KEY_READ | view_flag, key.put());
  if (open_result != ERROR_SUCCESS) return platform::SystemError{kOpenCall, static_cast<std::uint32_t>(open_result)};
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  // Data longer than four bytes fails here with ERROR_MORE_DATA.
  const LSTATUS query_result =
      ::RegQueryValueExW(key.get(), kServicePortValue, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (query_result != ERROR_SUCCESS) return platform::SystemError{kQueryCall, static_cast<std::uint32_t>(query_result)};
  if (type != REG_DWORD) return platform::SystemError{kQueryCall, ERROR_DATATYPE_MISMATCH};
  return std::uint32_t{data};
}

namespace {

bool RegGetDword(std::uint32_t& value) {
  log::Debug(L"[RegGetDword] {} {}", kServicePortKey, kServicePortValue);
  const platform::Expected<std::uint32_t> stored = ReadServerPort(RegistryView::k64Bit);
  if (!stored) {
    const platform::SystemError& failed = stored.error();
    // A value of another type is passed over without a word.
    if (std::string_view(failed.call) == kOpenCall) log::Info("RegOpenKeyEx Error: {}", failed.code);
    else if (failed.code != ERROR_DATATYPE_MISMATCH) log::Info("RegQueryValueEx Error: {}", failed.code);
    return false;
  }
  value = *stored;
  log::Debug("Value: {}", value);
  return true;
}

bool RegSetDword(std::uint32_t value) {
  log::Debug(L"[RegSetDword] {} {} {}", kServicePortKey, kServicePortValue, value);
  platform::UniqueKey key;
  DWORD disposition = 0;  // stays 0 when a failed call reports none
  const LSTATUS create_result =
      ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServicePortKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.put(), &disposition);
  if (create_result != ERROR_SUCCESS) {
    log::Info("RegCreateKeyEx {} key failed, result: {}",
              disposition == REG_CREATED_NEW_KEY ? "create" : "open", create_result);
    return false;
  }
  const DWORD data = value;
  const LSTATUS set_result =
      ::RegSetKeyValueW(key.get(), nullptr, kServicePortValue, REG_DWORD, &data, sizeof(data));
  if (set_result != ERROR_SUCCESS) {
    log::Info("RegSetKeyValue failed, result: {}", set_result);
    return false;
  }
  log::Debug("Success");
  return true;
}

}  // namespace

std::uint16_t SelectServerPort(const std::function<bool(std::uint32_t)>& is_service_running) {
  // One time limit for the listings of the whole selection together.
  PortAvailability availability(is_service_running);
  return SelectPortWith(
      {RegGetDword, RegSetDword, [&availability](int port) { return availability.IsAvailable(port); }});
}

}  // namespace starter::port
