#include "fault/fault_catalogue.h"

namespace starter::fault {
namespace {

#define STARTER_FAILURES(module, function, value, space, ...) \
  constexpr Failure kFailures_##function[] = {__VA_ARGS__{nullptr, 0}};
#define STARTER_LOOKED_UP_FAILURES(module, function, type, value, space, ...) \
  STARTER_FAILURES(module, function, value, space, __VA_ARGS__)
#define STARTER_NO_FAILURES(module, function, why) constexpr Failure kFailures_##function[] = {{nullptr, 0}};
STARTER_FAULT_TABLE(STARTER_FAILURES, STARTER_LOOKED_UP_FAILURES, STARTER_NO_FAILURES, STARTER_FAULT_E)

#define STARTER_ROW(module, function, value, space, ...) \
  {#module, #function, static_cast<long>(value), Space::space, kFailures_##function, true, false},
#define STARTER_LOOKED_UP_ROW(module, function, type, value, space, ...) \
  {#module, #function, static_cast<long>(value), Space::space, kFailures_##function, true, true},
#define STARTER_UNROUTED_ROW(module, function, why) \
  {#module, #function, 0, Space::kNone, kFailures_##function, false, false},
constexpr Row kRows[kRowCount] = {
    STARTER_FAULT_TABLE(STARTER_ROW, STARTER_LOOKED_UP_ROW, STARTER_UNROUTED_ROW, STARTER_FAULT_E)};

}  // namespace

const Row& RowAt(int index) { return kRows[index]; }

int RowNamed(std::string_view function) {
  for (int index = 0; index < kRowCount; ++index)
    if (function == kRows[index].function) return index;
  return -1;
}

const Failure* FailureNamed(const Row& row, std::string_view name) {
  for (const Failure* failure = row.failures; failure->name; ++failure)
    if (name == failure->name) return failure;
  return nullptr;
}

}  // namespace starter::fault
