#pragma once
// The rows of fault_table.h as data: what the injector routes and fails, and
// what the tests and the driver name. A row's index is its place in the
// table; the count file (STARTER_FAULT_COUNT) is laid out by it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fault/fault_table.h"

namespace starter::fault {

struct Row {
  const char* module;  // lower case, as the table names it
  const char* function;
  long value;          // what a failed call answers, unless the code is answered (kReturned)
  Space space;
  const Failure* failures;  // ended by a failure without a name
  bool routed;              // false: data, or called only before main (the table says why)
  bool looked_up;           // resolved with GetProcAddress rather than imported
};

enum RowIndex : int {
#define STARTER_ROW_INDEX(module, function, ...) kRow_##function,
  STARTER_FAULT_TABLE(STARTER_ROW_INDEX, STARTER_ROW_INDEX, STARTER_ROW_INDEX, STARTER_FAULT_E)
#undef STARTER_ROW_INDEX
  kRowCount
};

const Row& RowAt(int index);
// The row of `function`, or -1.
int RowNamed(std::string_view function);
// The failure of `row` named `name`, or null.
const Failure* FailureNamed(const Row& row, std::string_view name);

// The count file: every row's calls, and how each was routed, written as the
// calls happen into a mapped view, so a process ended by TerminateProcess
// leaves its counts whole.
enum Routing : std::uint32_t { kNotRouted = 0, kImportSlot = 1, kLookedUp = 2 };
// Where the order fired: the bytes of the log (STARTER_FAULT_LOG) by then.
inline constexpr long kNotFired = -2;
inline constexpr long kNoLog = -1;
struct CountFile {
  volatile long calls[kRowCount];
  volatile long routing[kRowCount];  // Routing bits
  volatile long log_bytes_at_fault;  // the log's size when the order first fired, kNoLog, or kNotFired
};

}  // namespace starter::fault
