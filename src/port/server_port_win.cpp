#include "port/server_port.h"

#include "platform/handles.h"

#include "log/diag_log.h"
#include "port/port_availability.h"
#include "port/port_walk.h"

namespace starter::port {
namespace {

constexpr wchar_t kKeyPath[] = L"SOFTWARE\\dadevuvidi\\Corvel\\Vantic";
constexpr wchar_t kValueName[] = L"ServerPort";

}  // namespace

bool RegGetDword(std::uint32_t& value) {
  log::Debug(L"[RegGetDword] {} {}", kKeyPath, kValueName);
  platform::UniqueKey key;
  const LSTATUS open_result =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ | KEY_WOW64_64KEY, key.put());
  if (open_result != ERROR_SUCCESS) {
    log::Info("RegOpenKeyEx Error: {}", open_result);
    return false;
  }
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  // Data longer than four bytes fails here with ERROR_MORE_DATA.
  const LSTATUS query_result = ::RegQueryValueExW(key.get(), kValueName, nullptr, &type,
                                                  reinterpret_cast<BYTE*>(&data), &size);
  if (query_result != ERROR_SUCCESS) {
    log::Info("RegQueryValueEx Error: {}", query_result);
    return false;
  }
  if (type != REG_DWORD) return false;
  value = data;
  log::Debug("Value: {}", value);
  return true;
}

bool RegSetDword(std::uint32_t value) {
  log::Debug(L"[RegSetDword] {} {} {}", kKeyPath, kValueName, value);
  platform::UniqueKey key;
  DWORD disposition = 0;  // stays 0 when a failed call reports none
  const LSTATUS create_result =
      ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.put(), &disposition);
  if (create_result != ERROR_SUCCESS) {
    log::Info("RegCreateKeyEx {} key failed, result: {}",
              disposition == REG_CREATED_NEW_KEY ? "create" : "open", create_result);
    return false;
  }
  const DWORD data = value;
  const LSTATUS set_result =
      ::RegSetKeyValueW(key.get(), nullptr, kValueName, REG_DWORD, &data, sizeof(data));
  if (set_result != ERROR_SUCCESS) {
    log::Info("RegSetKeyValue failed, result: {}", set_result);
    return false;
  }
  log::Debug("Success");
  return true;
}

std::uint16_t SelectServerPort() {
  // One time limit for the listings of the whole selection together.
  PortAvailability availability;
  return SelectPortWith(
      {RegGetDword, RegSetDword, [&availability](int port) { return availability.IsAvailable(port); }});
}

}  // namespace starter::port
