#include "status/run_history.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <initializer_list>

#include "contract/run_log.h"
#include "log/log_lines.h"

namespace starter::status {
namespace {

using contract::kArgumentWords;
using contract::kEndWords;
using contract::kNotDeliveredWords;
using contract::kPrintedWords;
using contract::kStartWords;
using contract::kTimeLimitWords;
using contract::kWaitEndedWords;

constexpr std::string_view kLineEnd = "\r\n";

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::string Kept(std::string_view text) { return std::string(text.substr(0, kKeptTextBytes)); }

// "param 2->Dravel": the argument at its index, which starts at 1.
void TakeArgument(std::string_view message, std::vector<std::string>& arguments) {
  message.remove_prefix(kArgumentWords.size());
  std::size_t index = 0;
  const auto [end, error] = std::from_chars(message.data(), message.data() + message.size(), index);
  const std::string_view rest = message.substr(static_cast<std::size_t>(end - message.data()));
  if (error != std::errc() || index == 0 || index > kKeptArguments || !StartsWith(rest, contract::kArgumentSeparator))
    return;
  if (arguments.size() < index) arguments.resize(index);
  arguments[index - 1] = Kept(rest.substr(contract::kArgumentSeparator.size()));
}

void Apply(const log::LogLine& line, StarterRun& run) {
  const std::string_view message = line.message;
  if (StartsWith(message, kArgumentWords)) {
    TakeArgument(message, run.arguments);
  } else if (StartsWith(message, kPrintedWords)) {
    run.status_line = Kept(message.substr(kPrintedWords.size()));
    run.printed = Kept(line.time);
  } else if (StartsWith(message, kWaitEndedWords)) {
    run.wait_ended = Kept(message.substr(kWaitEndedWords.size()));
  } else if (StartsWith(message, kTimeLimitWords)) {
    run.time_limit_stage = Kept(message.substr(kTimeLimitWords.size()));
  } else if (StartsWith(message, kNotDeliveredWords)) {
    run.not_delivered = Kept(message.substr(kNotDeliveredWords.size()));
  }
}

// Follows the runs line by line, keeping the open ones and the last
// completed ones, never the lines themselves: what it holds is bounded by
// its limits, not by the log.
class RunReader {
 public:
  explicit RunReader(std::size_t keep) : keep_(keep) {}

  // The whole lines of one file; a file cut inside a line does not run on
  // into the next one.
  void Read(std::string_view text) {
    for (std::size_t end = text.find(kLineEnd); end != std::string_view::npos; end = text.find(kLineEnd)) {
      if (const std::optional<log::LogLine> line = log::ParseLogLine(text.substr(0, end))) Take(*line);
      text.remove_prefix(end + kLineEnd.size());
    }
  }

  std::vector<StarterRun> Completed() && { return {std::make_move_iterator(completed_.begin()), std::make_move_iterator(completed_.end())}; }
  bool EndWithoutStart() const { return end_without_start_; }

 private:
  void Take(const log::LogLine& line) {
    const auto open = std::find_if(open_.begin(), open_.end(),
                                   [&line](const StarterRun& run) { return run.process_id == line.process_id; });
    if (StartsWith(line.message, kStartWords)) {
      // A start line begins the process's run afresh: a process id is reused
      // by a later process, and a run cut off left no end line.
      if (open != open_.end()) open_.erase(open);
      if (open_.size() == kMaxOpenRuns) open_.pop_front();
      open_.push_back(StarterRun{line.process_id, Kept(line.time), {}, {}, {}, {}, {}, {}, {}});
      return;
    }
    if (open == open_.end()) {
      // Its start lies in an older file, or was forgotten.
      end_without_start_ = end_without_start_ || line.message == kEndWords;
      return;
    }
    if (line.message != kEndWords) {
      Apply(line, *open);
      return;
    }
    open->ended = Kept(line.time);
    completed_.push_back(std::move(*open));
    open_.erase(open);
    if (completed_.size() > keep_) completed_.pop_front();
  }

  std::size_t keep_;
  std::deque<StarterRun> open_;  // oldest start first
  std::deque<StarterRun> completed_;
  bool end_without_start_ = false;
};

// "2026-12-08 10:00:00.123" as milliseconds since 1970-01-01 (the calendar
// arithmetic of days_from_civil); none when it is not such a time.
std::optional<std::int64_t> MillisecondsOf(std::string_view time) {
  constexpr std::string_view kShape = "0000-00-00 00:00:00.000";
  if (time.size() != kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = time[i] >= '0' && time[i] <= '9';
    if (kShape[i] == '0' ? !digit : time[i] != kShape[i]) return std::nullopt;
  }
  const auto number = [time](std::size_t at, std::size_t length) {
    std::int64_t value = 0;
    for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (time[i] - '0');
    return value;
  };
  std::int64_t year = number(0, 4);
  const std::int64_t month = number(5, 2), day = number(8, 2);
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = year / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const std::int64_t days = era * 146097 + day_of_era - 719468;
  const std::int64_t seconds = days * 86400 + number(11, 2) * 3600 + number(14, 2) * 60 + number(17, 2);
  return seconds * 1000 + number(20, 3);
}

}  // namespace

std::vector<StarterRun> LastCompletedRuns(std::string_view rotated, std::string_view current, std::size_t keep) {
  RunReader reader(keep);
  reader.Read(rotated);
  reader.Read(current);
  return std::move(reader).Completed();
}

bool NeedsRotatedFile(std::string_view current) {
  RunReader reader(1);
  reader.Read(current);
  return reader.EndWithoutStart() || std::move(reader).Completed().empty();
}

std::string_view WholeLinesOfTail(std::string_view tail, bool starts_the_file) {
  if (starts_the_file) return tail;
  const std::size_t first_end = tail.find(kLineEnd);
  return first_end == std::string_view::npos ? std::string_view() : tail.substr(first_end + kLineEnd.size());
}

std::optional<std::int64_t> WaitedMilliseconds(const StarterRun& run) {
  const std::optional<std::int64_t> start = MillisecondsOf(run.started);
  const std::optional<std::int64_t> answered = MillisecondsOf(run.printed.empty() ? run.ended : run.printed);
  if (!start || !answered || *answered < *start) return std::nullopt;
  return *answered - *start;
}

Outcome OutcomeOf(const StarterRun& run) {
  if (!run.time_limit_stage.empty()) return Outcome::kTimeLimit;
  if (run.status_line.empty()) return Outcome::kNoOutput;
  if (run.status_line == contract::kSuccessLine) return Outcome::kReady;
  const std::initializer_list<const char*> timeout_lines = {contract::kPortTimeoutLine, contract::kProcessTimeoutLine,
                                                            contract::kAllTimeoutLine};
  const bool timed_out = std::any_of(timeout_lines.begin(), timeout_lines.end(),
                                     [&run](const char* line) { return run.status_line == line; });
  return timed_out ? Outcome::kTimedOut : Outcome::kOtherOutput;
}

const char* NameOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::kReady: return "ready";
    case Outcome::kTimedOut: return "timed out";
    case Outcome::kTimeLimit: return "time limit";
    case Outcome::kNoOutput: return "printed nothing";
    case Outcome::kOtherOutput: return "printed another line";
  }
  return "printed another line";
}

HistorySummary Summarize(const std::vector<StarterRun>& runs) {
  HistorySummary summary;
  std::vector<std::int64_t> waits;
  for (const StarterRun& run : runs) {
    ++summary.counts[static_cast<std::size_t>(OutcomeOf(run))];
    if (const std::optional<std::int64_t> waited = WaitedMilliseconds(run)) waits.push_back(*waited);
  }
  if (waits.empty()) return summary;
  std::sort(waits.begin(), waits.end());
  summary.median_wait_ms = waits[(waits.size() - 1) / 2];
  summary.longest_wait_ms = waits.back();
  return summary;
}

}  // namespace starter::status
