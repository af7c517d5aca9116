#include "app/run_limit.h"

namespace starter::app {

bool StatusLineOnce::Print(const std::string& line) {
  if (claimed_.exchange(true)) return false;
  if (!line.empty()) write_(line);
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

void ReachRunLimit(contract::CallerMode mode, StatusLineOnce& line, const RunStage& stage,
                   const std::function<void(const char*)>& warn) {
  const char* timeout_line = contract::TimeoutLine(mode);
  if (!line.Print(timeout_line ? timeout_line : "")) line.WaitWritten(kRunLimitGrace);
  warn(stage.Name());
}

}  // namespace starter::app
