#pragma once
// The service port as the starter and the Vantic service share it: the
// REG_DWORD value ServerPort under HKLM\SOFTWARE\dadevuvidi\Corvel\Vantic,
// always in the 64-bit view of the registry.
#include <cstdint>

#include "platform/system_error.h"

namespace starter::port {

// The two views of the registry a 32-bit program can name on 64-bit Windows;
// on 32-bit Windows both name the same keys.
enum class RegistryView { k64Bit, k32Bit };

// ServerPort as stored in one view; what failed when it cannot be read
// (RegOpenKeyExW or RegQueryValueExW with their result, or
// ERROR_DATATYPE_MISMATCH for a value that is no REG_DWORD). Logs nothing.
platform::Expected<std::uint32_t> ReadServerPort(RegistryView view);

// True, with `value` set, when ServerPort exists as a REG_DWORD; otherwise
// false and `value` untouched.
bool RegGetDword(std::uint32_t& value);

// Stores `value` as ServerPort, creating the key and its parents if needed.
bool RegSetDword(std::uint32_t value);

// Chooses the port for the service in 9673..9700 (0 when none is usable),
// stores it as ServerPort and returns it; when it cannot be stored, returns
// the port of the range that ServerPort still holds, if any.
std::uint16_t SelectServerPort();

}  // namespace starter::port
