#pragma once
// What the fault driver runs and how it reads a run, free of the platform:
// the injected runs planned from a counting run, and the checks of one run's
// log lines that need nothing but the lines.
#include <cstdint>
#include <string>
#include <vector>

#include "fault/fault_order.h"

namespace starter::fault {

// A function a counting run called, with the failures its row names.
struct CalledFunction {
  std::string name;
  std::uint32_t calls = 0;
  std::vector<std::string> failures;
};

// One injected run: the owned form of a FaultOrder.
struct Injection {
  std::string function;
  std::uint32_t call = 0;
  std::string failure;
  bool from = false;

  FaultOrder Order() const { return {function, call, failure, from}; }
  std::string Name() const { return FormatFaultOrder(Order()); }
};

// How much of the matrix is run for each function a counting run called.
//   kWhole: each failure once at each of the first three calls and the last,
//           and once from the first call on (a failure that stays);
//   kSample: each failure once at the first call and at the last, and the
//           first failure from the first call on.
enum class Extent { kSample, kWhole };

// The injected runs for `called`, function by function in its order.
std::vector<Injection> PlanInjections(const std::vector<CalledFunction>& called, Extent extent);

// What is wrong with one starter run's log lines (each "level message"; the
// end line's message is "[ END ]\n", and blank lines are ""), given what it printed: it
// starts with "[ START ]", has at most one "[ END ]" and nothing of it after
// that, every line has a level, and its one "OUTPUT->" line (if any) is the
// line printed. An empty log is a problem of its own: the driver alone can
// tell whether the log's own open was what failed.
std::vector<std::string> LogProblems(const std::vector<std::string>& lines, const std::string& printed);

}  // namespace starter::fault
