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
  if (error != std::errc() || index == 0 || index > kMaxArgumentIndex || !StartsWith(rest, "->")) return;
  if (arguments.size() < index) arguments.resize(index);
  arguments[index - 1] = std::string(rest.substr(2));
}

void Apply(const log::LogLine& line, StarterRun& run) {
  const std::string_view message = line.message;
  if (StartsWith(message, kParamPrefix)) TakeArgument(message, run.arguments);
  else if (StartsWith(message, kOutputPrefix)) run.status_line = message.substr(kOutputPrefix.size());
  else if (StartsWith(message, kWaitEndedPrefix)) run.wait_ended = message.substr(kWaitEndedPrefix.size());
}

// The last completed run of `lines`, and whether an end line closed no run
// that `lines` hold the start of.
struct Scan {
  std::optional<StarterRun> last;
  bool end_without_start = false;
};

Scan ScanRuns(const std::vector<log::LogLine>& lines) {
  std::map<std::uint32_t, StarterRun> open_runs;
  Scan scan;
  for (const log::LogLine& line : lines) {
    if (StartsWith(line.message, kStartPrefix)) {
      // A start line begins the process's run afresh: a process id is reused
      // by a later process, and a run cut off left no end line.
      open_runs[line.process_id] = StarterRun{line.process_id, line.time, {}, {}, {}};
      continue;
    }
    const auto open = open_runs.find(line.process_id);
    if (open == open_runs.end()) {
      // Its start lies in an older file.
      scan.end_without_start = scan.end_without_start || line.message == kEnd;
      continue;
    }
    if (line.message == kEnd) {
      scan.last = std::move(open->second);
      open_runs.erase(open);
      continue;
    }
    Apply(line, open->second);
  }
  return scan;
}

}  // namespace

std::optional<StarterRun> LastCompletedRun(const std::vector<log::LogLine>& lines) { return ScanRuns(lines).last; }

std::optional<StarterRun> LastCompletedRunOf(std::string_view current, const std::function<std::string()>& read_rotated) {
  std::vector<log::LogLine> lines = log::ParseLogLines(current);
  Scan scan = ScanRuns(lines);
  if (scan.last && !scan.end_without_start) return std::move(scan.last);
  std::vector<log::LogLine> both = log::ParseLogLines(read_rotated());
  both.insert(both.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
  return ScanRuns(both).last;
}

std::string_view WholeLinesOfTail(std::string_view tail, bool starts_the_file) {
  if (starts_the_file) return tail;
  const std::size_t first_end = tail.find("\r\n");
  return first_end == std::string_view::npos ? std::string_view() : tail.substr(first_end + 2);
}

}  // namespace starter::status
