#pragma once
// The choice of the service port, apart from where the stored value lives and
// how a port is checked, so the walk can run against stand-in operations.
#include <cstdint>
#include <functional>

namespace starter::port {

constexpr int kFirstServicePort = 9673;
constexpr int kLastServicePort = 9700;

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

}  // namespace starter::port
