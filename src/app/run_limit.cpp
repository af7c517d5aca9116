#include "app/run_limit.h"

#include "contract/run_log.h"

#include <cstdio>
#include <exception>
#include <iterator>

namespace starter::app {
namespace {

// One log line, `words` then `rest`, made on the stack: for when memory was refused.
void WriteUnallocated(log::Level level, std::string_view words, std::string_view rest) {
  char text[512];
  std::snprintf(text, sizeof(text), "%.*s%.*s", static_cast<int>(words.size()), words.data(),
                static_cast<int>(rest.size()), rest.data());
  log::Write(level, text);
}

}  // namespace

std::string DeliveryFailure(const Delivery& delivery) {
  if (!delivery.taken.ok()) return Describe(delivery.taken.error());
  if (*delivery.taken == delivery.size) return "";
  return "standard output took " + std::to_string(*delivery.taken) + " of " + std::to_string(delivery.size) + " bytes";
}

bool StatusLineOnce::Print(std::string_view line, const std::function<void()>& then) {
  if (claimed_.exchange(true)) return false;
  if (!line.empty()) delivery_ = {line.size(), writer_.Write(line)};
  std::exception_ptr refused;
  try {
    if (then) then();
  } catch (const std::exception&) {
    // The line's record wanted memory that was refused (found by the fault
    // injector: a line printed with no OUTPUT-> line): it is made on the
    // stack, and the run still ends early.
    WriteUnallocated(log::Level::kInfo, contract::kPrintedWords, line);
    refused = std::current_exception();
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    written_ = true;
  }
  written_changed_.notify_all();
  if (refused) std::rethrow_exception(refused);
  return true;
}

bool StatusLineOnce::WaitWritten(std::chrono::milliseconds timeout) {
  if (!claimed_.load()) return false;
  std::unique_lock<std::mutex> lock(mutex_);
  return written_changed_.wait_for(lock, timeout, [this] { return written_; });
}

void RunStage::Enter(contract::Stage stage) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stage_ = stage;
  }
  changed_.notify_all();
}

contract::Stage RunStage::Current() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return stage_;
}

bool RunEnd::Claim(Owner owner) {
  Owner unclaimed = Owner::kNone;
  return owner_.compare_exchange_strong(unclaimed, owner);
}

std::string_view PrintOwedLine(contract::CallerMode mode, StatusLineOnce& line) {
  const char* timeout_line = contract::TimeoutLine(mode);
  const std::string_view owed = timeout_line ? timeout_line : "";
  return line.Print(owed) ? owed : std::string_view();
}

LimitRecord ReachRunLimit(contract::CallerMode mode, StatusLineOnce& line, const RunStage& stage,
                          const platform::CallInProgress& creation) {
  const std::string_view printed = PrintOwedLine(mode, line);
  if (printed.empty()) line.WaitWritten(kRunLimitGrace);
  // The stage as the limit found it: a creation it lets finish is still the
  // stage the run was held up in.
  const contract::Stage held_in = stage.Current();
  const bool overtaken = !creation.WaitReturned(kLaunchFinishGrace);
  return {held_in, std::string(printed), overtaken, line.delivery()};
}

std::optional<LimitRecord> ClaimEndAtLimit(contract::CallerMode mode, StatusLineOnce& line, RunEnd& end,
                                           const RunStage& stage, const platform::CallInProgress& creation) {
  if (!end.Claim(RunEnd::Owner::kLimit)) return std::nullopt;
  return ReachRunLimit(mode, line, stage, creation);
}

std::vector<EndLine> PrintedLogLines(std::string_view printed, const Delivery& delivery) {
  std::vector<EndLine> lines;
  if (printed.empty()) return lines;
  lines.push_back({log::Level::kInfo, contract::PrintedMessage(printed)});
  const std::string failure = DeliveryFailure(delivery);
  if (!failure.empty()) lines.push_back({log::Level::kWarn, contract::NotDeliveredMessage(failure)});
  return lines;
}

std::vector<EndLine> EndLogLines(std::string warning, std::string_view printed, const Delivery& delivery) {
  std::vector<EndLine> lines;
  if (!warning.empty()) lines.push_back({log::Level::kWarn, std::move(warning)});
  std::vector<EndLine> printed_lines = PrintedLogLines(printed, delivery);
  lines.insert(lines.end(), std::make_move_iterator(printed_lines.begin()), std::make_move_iterator(printed_lines.end()));
  lines.push_back({log::Level::kInfo, contract::EndMessage()});
  return lines;
}

std::vector<EndLine> LimitLogLines(const LimitRecord& record) {
  std::vector<EndLine> lines =
      EndLogLines(contract::TimeLimitMessage(contract::StageName(record.stage)), record.printed, record.delivery);
  if (record.launch_overtaken)
    lines.insert(lines.begin() + 1, {log::Level::kWarn, "launch did not return: the service's process it started is ended"});
  return lines;
}

namespace {

// The run's last lines when memory for them was refused, made on the stack:
// the run still reads as complete in the log, and says why its lines differ.
void WriteLastLinesUnallocated(const char* what, std::string_view printed) {
  WriteUnallocated(log::Level::kWarn, "run ended without memory for its last lines: ", what);
  if (!printed.empty()) WriteUnallocated(log::Level::kInfo, contract::kPrintedWords, printed);
  WriteUnallocated(log::Level::kInfo, contract::kEndWords, "\n");
}

}  // namespace

bool RunToItsEnd(contract::CallerMode mode, StatusLineOnce& line, RunEnd& end, const std::function<void()>& stages) {
  // What a stage threw, kept without allocating: it may have been
  // std::bad_alloc.
  char thrown[256] = "";
  bool ended_early = false;
  try {
    stages();
  } catch (const std::exception& error) {
    ended_early = true;
    std::snprintf(thrown, sizeof(thrown), "%s", error.what());
  }
  if (!end.Claim(RunEnd::Owner::kRun)) return false;
  // The caller's line first, which needs no memory; then the log's.
  const std::string_view printed = PrintOwedLine(mode, line);
  try {
    for (const EndLine& last :
         EndLogLines(ended_early ? std::string("run ended early: ") + thrown : "", printed, line.delivery()))
      log::Write(last.level, last.text);
  } catch (const std::exception& error) {
    WriteLastLinesUnallocated(error.what(), printed);
  }
  log::Flush();
  return true;
}

}  // namespace starter::app
