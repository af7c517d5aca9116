#pragma once
// The order the injector is given in STARTER_FAULT: which call it fails.
// "Function:N:FAILURE" fails the Nth call of Function (counted from 1) once,
// "Function:N:FAILURE:from" that call and every later one. FAILURE is the
// code's name in the function's row of fault_table.h.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace starter::fault {

struct FaultOrder {
  std::string_view function;
  std::uint32_t call = 0;
  std::string_view failure;
  bool from = false;
};

// The order in `text`, or nothing when it is not one. The views point into `text`.
std::optional<FaultOrder> ParseFaultOrder(std::string_view text);
std::string FormatFaultOrder(const FaultOrder& order);

// Whether the `call`th call of the order's function fails.
constexpr bool Fires(const FaultOrder& order, std::uint32_t call) {
  return order.from ? call >= order.call : call == order.call;
}

}  // namespace starter::fault
