#pragma once
// The service port as the starter and the Vantic service share it: the
// REG_DWORD value ServerPort under HKLM\SOFTWARE\dadevuvidi\Corvel\Vantic,
// always in the 64-bit view of the registry.
#include <cstdint>

namespace starter::port {

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
