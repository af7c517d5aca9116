#pragma once
// The run's one limit on its time (contract::RunLimit): a caller waits for
// the status line, so whatever holds a run up, its line comes in bounded
// time. The run and its limit share the single printing of the line and
// the end of the run: whichever comes first owns it, so the limit never
// writes into a log the end of the run is closing, and never ends the
// process while it is creating the service's.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contract/product_contract.h"
#include "log/diag_log.h"
#include "platform/system_error.h"

namespace starter::app {

// Where the status line goes: standard output in the starter, a recorder
// in the tests.
class LineWriter {
 public:
  virtual ~LineWriter() = default;
  // Writes `line` whole and flushed, so a caller that reads as the output
  // comes has it before the run ends.
  virtual void Write(std::string_view line) = 0;
};

// The one status line of a run, printed by whichever of the run's wait and
// the run's limit claims it first; the other prints nothing, so the caller
// never reads two lines. Before it ends the process, the limit gives the
// winner's line time to be written whole (WaitWritten), so the caller does
// not read half of one.
class StatusLineOnce {
 public:
  explicit StatusLineOnce(LineWriter& writer) : writer_(writer) {}

  // Writes `line` (nothing when it is empty: the modes that print nothing)
  // and answers true when no line was claimed before; answers false, writing
  // nothing, otherwise.
  bool Print(const std::string& line);
  // Waits at most `timeout` for the claimed line to be written; true once it
  // was. False at once when none was claimed.
  bool WaitWritten(std::chrono::milliseconds timeout);

 private:
  LineWriter& writer_;
  std::atomic<bool> claimed_{false};
  std::mutex mutex_;
  std::condition_variable written_changed_;
  bool written_ = false;
};

// The stage a run is in, set by the run as it goes and read by the limit
// from its own thread, which may wait for the run to leave a stage.
class RunStage {
 public:
  void Enter(contract::Stage stage);
  contract::Stage Current() const;
  // Waits at most `timeout` for the run to be past `stage`; true once it is.
  bool WaitToLeave(contract::Stage stage, std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  contract::Stage stage_ = contract::Stage::kStart;
};

// How long the limit waits for a line being written, and for its lines to
// reach the log, before it ends the process anyway.
inline constexpr std::chrono::milliseconds kRunLimitGrace{1000};
// How long the limit lets a launch it came upon finish. The system creates
// the service's process suspended and lets it run only as the call returns:
// a starter ended inside the call leaves a java.exe that never runs, which
// every later run would count as the service. The launch's own bound, with
// room to spare.
inline constexpr std::chrono::milliseconds kLaunchFinishGrace = 2 * contract::BoundOf(contract::Stage::kLaunch).bound;

// What the limit does when it comes, apart from ending the process: claims
// the line and prints the mode's timeout line (nothing in the modes that
// print nothing), or, when the run claimed it first, waits up to
// kRunLimitGrace for it to be written; lets a launch finish; and answers
// what it must log: the stage it ended and the line it printed, if any.
struct LimitRecord {
  contract::Stage stage;
  std::string printed;  // empty when the limit printed nothing
};
LimitRecord ReachRunLimit(contract::CallerMode mode, StatusLineOnce& line, const RunStage& stage);

// The log lines of a run the limit ended, in their order: the warning, the
// line it printed (when it printed one) and the run's end, so the run reads
// as complete in the log.
struct LimitLine {
  log::Level level;
  std::string text;
};
std::vector<LimitLine> LimitLogLines(const LimitRecord& record);

struct RunLimitWatch;  // the limit's thread, and what it shares with the run (Windows)

// The limit of one run, started first in the run, on a thread of its own.
// After contract::RunLimit(mode) it does what ReachRunLimit says, logs the
// LimitLogLines (waiting for the log at most kRunLimitGrace) and ends the
// process with exit code 0. The run calls Finish before it closes its log:
// the limit is then stopped, or, when it came first, owns the end. (Windows
// only.)
class RunLimit {
 public:
  RunLimit(contract::CallerMode mode, LineWriter& writer);
  ~RunLimit();
  RunLimit(const RunLimit&) = delete;
  RunLimit& operator=(const RunLimit&) = delete;

  StatusLineOnce& line() { return line_; }
  void Enter(contract::Stage stage) { stage_.Enter(stage); }
  // Why the limit could not be started; the run then goes on without it.
  const platform::Status& started() const { return started_; }
  // Claims the end of the run for the run: stops the limit, or, when the
  // limit claimed it first, never returns (the limit ends the process).
  void Finish();

 private:
  StatusLineOnce line_;
  RunStage stage_;
  std::unique_ptr<RunLimitWatch> watch_;
  platform::Status started_;
};

}  // namespace starter::app
