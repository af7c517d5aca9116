// --history as a person reads it: one line a run, and a summary.
#include "status/report.h"

#include <fmt/format.h>

#include "log/log_text.h"
#include "status/report_parts.h"

namespace starter::status {
namespace {

// One run of the history: when, which process, its caller, what it printed
// and why, and how long its caller waited.
std::string HistoryLine(const StarterRun& run) {
  std::string arguments;
  for (const std::string& argument : run.arguments) arguments += (arguments.empty() ? "" : " ") + argument;
  std::string line = fmt::format("{}  process {}  {} (arguments: {})  ", run.started, run.process_id,
                                 ModeOf(run.arguments), arguments.empty() ? "none" : arguments);
  line += run.status_line.empty() ? "printed nothing" : "printed " + run.status_line;
  if (!run.not_delivered.empty()) line += ", not delivered: " + run.not_delivered;
  if (!run.wait_ended.empty()) line += "  wait ended: " + run.wait_ended;
  if (!run.time_limit_stage.empty()) line += "  ended at its time limit in " + run.time_limit_stage;
  const std::optional<std::int64_t> waited = WaitedMilliseconds(run);
  line += waited ? fmt::format("  waited {} ms", *waited) : "  wait unknown";
  return log::EscapeControls(line) + "\n";
}

std::string SummaryText(const std::vector<StarterRun>& runs) {
  const HistorySummary summary = Summarize(runs);
  std::string counts;
  for (std::size_t i = 0; i < kOutcomeCount; ++i) {
    if (summary.counts[i] == 0) continue;
    counts += fmt::format("{}{} {}", counts.empty() ? "" : ", ", summary.counts[i], NameOf(static_cast<Outcome>(i)));
  }
  std::string text = fmt::format("{} runs{}{}", runs.size(), counts.empty() ? "" : ": ", counts);
  if (summary.median_wait_ms)
    text += fmt::format("; median wait {} ms, longest {} ms", *summary.median_wait_ms, *summary.longest_wait_ms);
  return Field("summary", text);
}

}  // namespace

std::string FormatHistoryText(const Observations& seen) {
  std::string text = fmt::format("zephra_vantic_status {} at {}\n", seen.version, seen.now.local);
  if (Cut(seen)) return text + VerdictText(JudgeState(seen));
  text += Field("log", Utf8(seen.log_file));
  if (!seen.log_refused.empty()) return text + Field("history", "the log is not read: " + seen.log_refused);
  if (seen.log_unread) return text + Field("history", "the log cannot be read (" + Describe(*seen.log_unread) + ")");
  for (const StarterRun& run : seen.history) text += HistoryLine(run);
  return text + SummaryText(seen.history);
}

}  // namespace starter::status
