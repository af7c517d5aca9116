#pragma once
// The run's one limit on its time (contract::RunLimit): a caller waits for
// the status line, so whatever holds a run up, its line comes in bounded
// time. The run and its limit share the single printing of the line and
// the end of the run: whichever comes first owns it, so a caller reads one
// line, the log holds one end of each run, and the limit never writes into
// a log the end of the run is closing.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contract/product_contract.h"
#include "log/diag_log.h"
#include "platform/call_in_progress.h"
#include "platform/system_error.h"

namespace starter::app {

// Where the status line goes: standard output in the starter, a recorder
// in the tests.
class LineWriter {
 public:
  virtual ~LineWriter() = default;
  // Writes `line` unbuffered, so a caller that reads as the output comes
  // has it before the run ends: how many of its bytes the output took, or
  // what failed (a caller that closed its pipe).
  virtual platform::Expected<std::size_t> Write(std::string_view line) = 0;
};

// What became of a status line written: its size and what the write
// answered. Kept as the write's answer, so that recording it allocates
// nothing.
struct Delivery {
  std::size_t size = 0;
  platform::Expected<std::size_t> taken = std::size_t{0};
};
// Why the line did not reach its caller whole ("WriteFile GLE=232",
// "standard output took 5 of 23 bytes"); empty when it did.
std::string DeliveryFailure(const Delivery& delivery);

// The one status line of a run, printed by whichever of the run's wait and
// the run's limit claims it first; the other prints nothing, so the caller
// never reads two lines. Before it ends the process, the limit gives the
// winner's line time to be written whole (WaitWritten), so the caller does
// not read half of one.
class StatusLineOnce {
 public:
  explicit StatusLineOnce(LineWriter& writer) : writer_(writer) {}

  // Writes `line` (nothing when it is empty: the modes that print nothing),
  // then calls `then`, and answers true when no line was claimed before;
  // answers false, writing nothing, otherwise. The line counts as written
  // only once `then` returned: the wait logs the line's record there, so that
  // a limit waiting for the line logs its own lines after that record. Nothing
  // is allocated before the write, so a run out of memory still prints; a
  // record refused its memory is written from the stack, and what was thrown
  // is thrown on.
  bool Print(std::string_view line, const std::function<void()>& then = {});
  // Waits at most `timeout` for the claimed line to be written; true once it
  // was. False at once when none was claimed.
  bool WaitWritten(std::chrono::milliseconds timeout);
  // What became of the line this printed, for the thread that printed it
  // (in `then` and after Print); a line never written reads as delivered.
  const Delivery& delivery() const { return delivery_; }

 private:
  LineWriter& writer_;
  Delivery delivery_;
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

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  contract::Stage stage_ = contract::Stage::kStart;
};

// The end of a run: its last lines (the `OUTPUT->` of a line printed at
// the end, the end line) are written once, by whichever of the run and its
// limit claims the end first.
class RunEnd {
 public:
  enum class Owner { kNone, kRun, kLimit };
  // Claims the end for `owner`: true when no one had claimed it.
  bool Claim(Owner owner);
  Owner owner() const { return owner_.load(); }

 private:
  std::atomic<Owner> owner_{Owner::kNone};
};

// How long the limit waits for a line being written, for its lines to reach
// the log, and for a run that claimed its end to finish, before it ends the
// process anyway.
inline constexpr std::chrono::milliseconds kRunLimitGrace{1000};
// How long the limit lets a process creation it came upon finish
// (platform::DetachedCreation): a starter ended inside the call leaves a
// java.exe that never runs, which every later run would count as the
// service. The launch's own bound, with room to spare; a creation that takes
// longer has its process ended with the run (RunLimit). Only the call
// counts: a run held up after it, by its log say, has a service that runs,
// and the limit never ends it.
inline constexpr std::chrono::milliseconds kLaunchFinishGrace = 2 * contract::BoundOf(contract::Stage::kLaunch).bound;

// Prints the mode's timeout line when no line was printed yet (a wait that
// did not see readiness, which is true); answers the line it printed, empty
// when it printed none (the line was printed before, or the mode prints
// nothing).
std::string_view PrintOwedLine(contract::CallerMode mode, StatusLineOnce& line);

// What the limit does when it comes, apart from ending the process: prints
// what PrintOwedLine owes, or, when the run printed its line, waits up to
// kRunLimitGrace for it to be written; lets a process creation under way
// (`creation`) finish; and answers what it must log and do: the stage it
// ended, the line it printed, if any, and whether a creation outlasted its
// grace.
struct LimitRecord {
  contract::Stage stage;
  std::string printed;  // empty when the limit printed nothing
  bool launch_overtaken = false;
  Delivery delivery = {};  // of the line the limit printed
};
LimitRecord ReachRunLimit(contract::CallerMode mode, StatusLineOnce& line, const RunStage& stage,
                          const platform::CallInProgress& creation);

// The limit's claim of the end: what ReachRunLimit answers when the limit
// claimed it, nothing when the run had.
std::optional<LimitRecord> ClaimEndAtLimit(contract::CallerMode mode, StatusLineOnce& line, RunEnd& end,
                                           const RunStage& stage, const platform::CallInProgress& creation);

// The last log lines of a run, in their order: a warning when it did not end
// as it should, the line printed at its end (when one was) and the end line,
// so the run reads as complete in the log.
struct EndLine {
  log::Level level;
  std::string text;
};
std::vector<EndLine> EndLogLines(std::string warning, std::string_view printed, const Delivery& delivery);
// The log lines of a printed line: its OUTPUT-> line, which says what the
// run printed, and after it the warning that the line did not reach its
// caller whole, when it did not. None when nothing was printed.
std::vector<EndLine> PrintedLogLines(std::string_view printed, const Delivery& delivery);
// Those of a run the limit ended.
std::vector<EndLine> LimitLogLines(const LimitRecord& record);

// Runs `stages`, then claims the end for the run and writes its last lines:
// what PrintOwedLine owes, and EndLogLines. A stage that throws ends the
// stages early, with the warning "run ended early: <what>": the caller
// still gets its mode's timeout line. False when the limit had claimed the
// end; the run then writes nothing more.
bool RunToItsEnd(contract::CallerMode mode, StatusLineOnce& line, RunEnd& end, const std::function<void()>& stages);

struct RunLimitWatch;  // the limit's thread, and what it shares with the run (Windows)

// The limit of one run, started first in the run, on a thread of its own.
// After contract::RunLimit(mode), when it claims the end (ClaimEndAtLimit),
// it logs the LimitLogLines (waiting for the log at most kRunLimitGrace),
// ends the service's process a launch overtaken by the limit was creating,
// and ends the process with exit code 0; when the run claimed the end, it
// gives the run kRunLimitGrace to finish and then ends the process all the
// same. (Windows only.)
class RunLimit {
 public:
  RunLimit(contract::CallerMode mode, LineWriter& writer);
  ~RunLimit();
  RunLimit(const RunLimit&) = delete;
  RunLimit& operator=(const RunLimit&) = delete;

  StatusLineOnce& line() { return line_; }
  RunEnd& end() { return end_; }
  void Enter(contract::Stage stage) { stage_.Enter(stage); }
  // Why the limit could not be started; the run then goes on without it.
  const platform::Status& started() const { return started_; }
  // To be called once the run has written its last lines, before it closes
  // its log: stops the limit, or, when the limit owns the end, never
  // returns (the limit ends the process).
  void Finish();

 private:
  StatusLineOnce line_;
  RunStage stage_;
  RunEnd end_;
  std::unique_ptr<RunLimitWatch> watch_;
  platform::Status started_;
};

}  // namespace starter::app
