#pragma once
// The service port as the starter and the Vantic service share it: a port of
// the service range stored as a REG_DWORD in the 64-bit view of the registry
// (contract::kServicePortKey), and how the starter chooses it.
#include <cstdint>
#include <functional>

#include "contract/product_contract.h"
#include "platform/system_error.h"

namespace starter::port {

// The two views of the registry a 32-bit program can name on 64-bit Windows;
// on 32-bit Windows both name the same keys.
enum class RegistryView { k64Bit, k32Bit };

// ServerPort as stored in one view; what failed when it cannot be read
// (RegOpenKeyExW or RegQueryValueExW with their result, or
// ERROR_DATATYPE_MISMATCH for a value that is no REG_DWORD). Logs nothing.
platform::Expected<std::uint32_t> ReadServerPort(RegistryView view);

struct PortSelectionOps {
  // Stores the saved port in its argument and returns true, or returns false
  // and leaves it alone.
  std::function<bool(std::uint32_t&)> read_stored;
  std::function<bool(std::uint32_t)> write_stored;
  std::function<bool(int)> is_available;
};

// Starts at the stored port (9673 when none is stored or it lies outside
// 9673..9700) and tries each port of the range once, wrapping from 9700 to
// 9673. The first usable port, or 0 when there is none, is stored and
// returned. When it cannot be stored, a port of the range that ServerPort
// still holds is returned instead, with a warning: the service will use it.
// Standard exceptions from reading or writing are logged and absorbed; those
// from the availability check pass through.
std::uint16_t SelectPortWith(const PortSelectionOps& ops);

// Chooses the port for the service in 9673..9700 (0 when none is usable),
// stores it as ServerPort and returns it; when it cannot be stored, returns
// the port of the range that ServerPort still holds, if any.
// `is_service_running` tells whether a Vantic service process runs (a
// process id of 0 accepts any): a port the service holds stays usable.
std::uint16_t SelectServerPort(const std::function<bool(std::uint32_t)>& is_service_running);

}  // namespace starter::port
