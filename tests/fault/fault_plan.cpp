#include "fault/fault_plan.h"

#include <algorithm>

namespace starter::fault {
namespace {

constexpr std::uint32_t kFirstCalls = 3;

// The calls a failure is injected at, ascending, each once.
std::vector<std::uint32_t> CallsToFail(std::uint32_t calls, Extent extent) {
  std::vector<std::uint32_t> chosen;
  const std::uint32_t first = extent == Extent::kWhole ? std::min(kFirstCalls, calls) : 1;
  for (std::uint32_t call = 1; call <= first; ++call) chosen.push_back(call);
  if (calls > first) chosen.push_back(calls);
  return chosen;
}

}  // namespace

std::vector<Injection> PlanInjections(const std::vector<CalledFunction>& called, Extent extent) {
  std::vector<Injection> plan;
  for (const CalledFunction& function : called) {
    if (function.calls == 0 || function.failures.empty()) continue;
    for (const std::string& failure : function.failures) {
      for (const std::uint32_t call : CallsToFail(function.calls, extent))
        plan.push_back({function.name, call, failure, false});
      if (extent == Extent::kWhole || failure == function.failures.front())
        plan.push_back({function.name, 1, failure, true});
    }
  }
  return plan;
}

std::vector<std::string> LogProblems(const std::vector<std::string>& lines, const std::string& printed) {
  std::vector<std::string> problems;
  if (lines.empty()) return {"the log is empty"};
  if (lines.front().rfind("info [ START ] ", 0) != 0) problems.push_back("the run's first line is not [ START ]");
  const auto end = std::find(lines.begin(), lines.end(), "info [ END ]\n");
  if (end == lines.end()) problems.push_back("the run has no [ END ]");
  const auto after_end = end == lines.end() ? end : end + 1;
  if (std::any_of(after_end, lines.end(), [](const std::string& line) { return !line.empty(); }))
    problems.push_back("the run logged after its [ END ]");
  if (std::any_of(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("? ", 0) == 0; }))
    problems.push_back("a line of the run is not a log line");
  const auto outputs = std::count_if(lines.begin(), lines.end(),
                                     [](const std::string& line) { return line.rfind("info OUTPUT->", 0) == 0; });
  const bool output_logged = std::find(lines.begin(), lines.end(), "info OUTPUT->" + printed) != lines.end();
  if (outputs > 1) problems.push_back("more than one OUTPUT-> line");
  if (!printed.empty() && !output_logged) problems.push_back("the printed line has no OUTPUT-> line");
  if (printed.empty() && outputs > 0) problems.push_back("an OUTPUT-> line for a run that printed nothing");
  return problems;
}

}  // namespace starter::fault
