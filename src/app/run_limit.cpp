#include "app/run_limit.h"

#include "contract/run_log.h"

namespace starter::app {

bool StatusLineOnce::Print(const std::string& line) {
  if (claimed_.exchange(true)) return false;
  if (!line.empty()) writer_.Write(line);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    written_ = true;
  }
  written_changed_.notify_all();
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

bool RunStage::WaitToLeave(contract::Stage stage, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [this, stage] { return stage_ != stage; });
}

LimitRecord ReachRunLimit(contract::CallerMode mode, StatusLineOnce& line, const RunStage& stage) {
  const char* timeout_line = contract::TimeoutLine(mode);
  const std::string owed = timeout_line ? timeout_line : "";
  const bool printed = line.Print(owed);
  if (!printed) line.WaitWritten(kRunLimitGrace);
  // The stage as the limit found it: a launch it lets finish is still the
  // stage the run was held up in.
  const contract::Stage held_in = stage.Current();
  if (held_in == contract::Stage::kLaunch) stage.WaitToLeave(contract::Stage::kLaunch, kLaunchFinishGrace);
  return {held_in, printed ? owed : std::string()};
}

std::vector<LimitLine> LimitLogLines(const LimitRecord& record) {
  std::vector<LimitLine> lines{{log::Level::kWarn, contract::TimeLimitMessage(contract::StageName(record.stage))}};
  if (!record.printed.empty()) lines.push_back({log::Level::kInfo, contract::PrintedMessage(record.printed)});
  lines.push_back({log::Level::kInfo, contract::EndMessage()});
  return lines;
}

}  // namespace starter::app
