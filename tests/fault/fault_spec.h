#pragma once
// Which call the injector fails, as STARTER_FAULT names it:
// "Function:N:FAILURE" fails the Nth call of Function (counted from 1) once,
// "Function:N:FAILURE:from" that call and every later one. FAILURE is the
// code's name in the function's row of fault_table.h.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace starter::fault {

struct FaultSpec {
  std::string_view function;
  std::uint32_t call = 0;
  std::string_view failure;
  bool from = false;
};

// The spec in `text`, or nothing when it is not one. The views point into `text`.
std::optional<FaultSpec> ParseFaultSpec(std::string_view text);
std::string FormatFaultSpec(const FaultSpec& spec);

// Whether the `call`th call of the spec's function fails.
constexpr bool Fires(const FaultSpec& spec, std::uint32_t call) {
  return spec.from ? call >= spec.call : call == spec.call;
}

}  // namespace starter::fault
