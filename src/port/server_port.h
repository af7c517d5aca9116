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

// The calls a failure names, which the port selection's lines tell apart:
// reading, the key's open and the value's query; writing, the key's
// creation (kCreatedKeyCall when the call had made the key before it
// failed) and the value's setting.
inline constexpr char kOpenKeyCall[] = "RegOpenKeyExW";
inline constexpr char kQueryValueCall[] = "RegQueryValueExW";
inline constexpr char kCreateKeyCall[] = "RegCreateKeyExW";
inline constexpr char kCreatedKeyCall[] = "RegCreateKeyExW(REG_CREATED_NEW_KEY)";
inline constexpr char kSetValueCall[] = "RegSetKeyValueW";

// ServerPort as stored in one view; what failed when it cannot be read (the
// call with its result, or kErrorDatatypeMismatch for a value that is no
// REG_DWORD). Logs nothing.
platform::Expected<std::uint32_t> ReadServerPort(RegistryView view);

// Stores `port` as ServerPort in the 64-bit view, creating the key when
// missing; what failed when it was not stored. Logs nothing.
platform::Status WriteServerPort(std::uint32_t port);

}  // namespace starter::port
