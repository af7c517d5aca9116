#pragma once
// The run's one limit on its time (contract::RunLimit): a caller waits for
// the status line, so whatever holds a run up, its line comes in bounded
// time. The run and its limit share the single printing of the line, and the
// limit names the stage the run was in; ending the process is the Windows
// part's (run_limit_win.cpp).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "contract/product_contract.h"
#include "platform/system_error.h"

namespace starter::app {

// The one status line of a run, printed by whichever of the run's wait and
// the run's limit claims it first; the other prints nothing, so the caller
// never reads two lines. Before it ends the process, the limit gives the
// winner's line time to be written whole (WaitWritten), so the caller does
// not read half of one.
class StatusLineOnce {
 public:
  explicit StatusLineOnce(std::function<void(const std::string&)> write) : write_(std::move(write)) {}

  // Writes `line` (nothing when it is empty: the modes that print nothing)
  // and answers true when no line was claimed before; answers false, writing
  // nothing, otherwise.
  bool Print(const std::string& line);
  // Waits at most `timeout` for the claimed line to be written; true once it
  // was. False at once when none was claimed.
  bool WaitWritten(std::chrono::milliseconds timeout);

 private:
  std::function<void(const std::string&)> write_;
  std::atomic<bool> claimed_{false};
  std::mutex mutex_;
  std::condition_variable written_changed_;
  bool written_ = false;
};

// The stage a run is in, for the limit's warning: set by the run as it goes,
// read by the limit from its own thread.
class RunStage {
 public:
  void Enter(const char* name) { name_.store(name); }
  const char* Name() const { return name_.load(); }

 private:
  std::atomic<const char*> name_{"start"};
};

// How long the limit waits for a line being written, and for its warning to
// reach the log, before it ends the process anyway.
inline constexpr std::chrono::milliseconds kRunLimitGrace{1000};

// What the limit does when it comes: claims the line and prints the mode's
// timeout line (nothing in the modes that print nothing), or when the run
// claimed it first, waits up to kRunLimitGrace for it to be written; then warns (`warn` gets the stage's name; it must return in bounded time).
// Ending the process is the caller's.
void ReachRunLimit(contract::CallerMode mode, StatusLineOnce& line, const RunStage& stage,
                   const std::function<void(const char*)>& warn);

// Starts the run's limit on a thread of its own: after contract::RunLimit(mode)
// it does what ReachRunLimit says, logging `warning run ended at its time
// limit in <stage>` (waiting for the log at most kRunLimitGrace), and ends
// the process with exit code 0. Logs nothing itself: it runs before the log
// is set up. `line` and `stage` live as long as the process. (Windows only.)
platform::Failure StartRunLimit(contract::CallerMode mode, StatusLineOnce& line, const RunStage& stage);

}  // namespace starter::app
