#include "status/last_run.h"

#include <charconv>
#include <map>

namespace starter::status {
namespace {

constexpr std::string_view kStartPrefix = "[ START ] ";
constexpr std::string_view kEnd = "[ END ]";
constexpr std::string_view kParamPrefix = "param ";
constexpr std::string_view kOutputPrefix = "OUTPUT->";
constexpr std::string_view kWaitEndedPrefix = "wait ended: ";

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// "param 2->Dravel": the argument at its index, which starts at 1.
void TakeArgument(std::string_view message, std::vector<std::string>& arguments) {
  message.remove_prefix(kParamPrefix.size());
  std::size_t index = 0;
  const auto [end, error] = std::from_chars(message.data(), message.data() + message.size(), index);
  const std::string_view rest = message.substr(static_cast<std::size_t>(end - message.data()));
  if (error != std::errc() || index == 0 || !StartsWith(rest, "->")) return;
  if (arguments.size() < index) arguments.resize(index);
  arguments[index - 1] = std::string(rest.substr(2));
}

void Apply(const log::LogLine& line, StarterRun& run) {
  const std::string_view message = line.message;
  if (StartsWith(message, kParamPrefix)) TakeArgument(message, run.arguments);
  else if (StartsWith(message, kOutputPrefix)) run.status_line = message.substr(kOutputPrefix.size());
  else if (StartsWith(message, kWaitEndedPrefix)) run.wait_ended = message.substr(kWaitEndedPrefix.size());
}

}  // namespace

std::optional<StarterRun> LastCompletedRun(const std::vector<log::LogLine>& lines) {
  std::map<std::uint32_t, StarterRun> open_runs;
  std::optional<StarterRun> last;
  for (const log::LogLine& line : lines) {
    if (StartsWith(line.message, kStartPrefix)) {
      // A start line begins the process's run afresh: a process id is reused
      // by a later process, and a run cut off left no end line.
      open_runs[line.process_id] = StarterRun{line.process_id, line.time, {}, {}, {}};
      continue;
    }
    const auto open = open_runs.find(line.process_id);
    if (open == open_runs.end()) continue;  // its start lies in an older file
    if (line.message == kEnd) {
      last = std::move(open->second);
      open_runs.erase(open);
      continue;
    }
    Apply(line, open->second);
  }
  return last;
}

std::optional<StarterRun> LastCompletedRunOf(std::string_view current, const std::function<std::string()>& read_rotated) {
  if (std::optional<StarterRun> run = LastCompletedRun(log::ParseLogLines(current))) return run;
  return LastCompletedRun(log::ParseLogLines(read_rotated() + std::string(current)));
}

}  // namespace starter::status
