#pragma once
// The service port as the starter and the Vantic service share it: a port of
// the service range stored as a REG_DWORD in the registry
// (contract::kServicePortKey), which the starter writes in the 64-bit view.
// (Windows.)
#include <cstdint>

#include "platform/system_error.h"

namespace starter::port {

// The two views of the registry a 32-bit program can name on 64-bit Windows;
// on 32-bit Windows both name the same keys.
enum class RegistryView { k64Bit, k32Bit };

// The calls a failed read names: the key's open, and the value's query.
inline constexpr char kOpenKeyCall[] = "RegOpenKeyExW";
inline constexpr char kQueryValueCall[] = "RegQueryValueExW";

// ServerPort as stored in one view; what failed when it cannot be read
// (kOpenKeyCall or kQueryValueCall with their result, or
// kErrorDatatypeMismatch for a value that is no REG_DWORD). Logs nothing.
platform::Expected<std::uint32_t> ReadServerPort(RegistryView view);

}  // namespace starter::port
