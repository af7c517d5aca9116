#include <windows.h>

#include <new>

#include "app/run_limit.h"
#include "log/diag_log.h"
#include "platform/handles.h"
#include "platform/process_start.h"
#include "platform/system_facts.h"

namespace starter::app {

struct RunLimitWatch {
  RunLimitWatch(contract::CallerMode run_mode, StatusLineOnce& run_line, const RunStage& run_stage, RunEnd& run_end)
      : mode(run_mode), line(run_line), stage(run_stage), end(run_end) {}

  contract::CallerMode mode;
  StatusLineOnce& line;
  const RunStage& stage;
  RunEnd& end;
  platform::UniqueHandle finished;  // set by Finish: the run has written its last lines
  platform::UniqueHandle thread;
};

namespace {

unsigned __stdcall WriteLimitLines(void* record) {
  for (const EndLine& line : LimitLogLines(*static_cast<const LimitRecord*>(record))) log::Write(line.level, line.text);
  log::Flush();
  return 0;
}

// The log may be what holds the run up (its file behind a filter driver or
// on a share that hangs, its writers' lock): its lines are written on a
// thread of their own, which is waited for a bounded time and then left.
void LogWithinGrace(const LimitRecord& record) {
  const platform::Expected<platform::UniqueHandle> writer =
      platform::StartThread(WriteLimitLines, const_cast<LimitRecord*>(&record));
  if (writer.ok()) ::WaitForSingleObject(writer->get(), static_cast<DWORD>(kRunLimitGrace.count()));
}

unsigned __stdcall WatchRun(void* parameter) {
  RunLimitWatch& watch = *static_cast<RunLimitWatch*>(parameter);
  const DWORD limit = static_cast<DWORD>(std::chrono::milliseconds(contract::RunLimit(watch.mode)).count());
  const DWORD grace = static_cast<DWORD>(kRunLimitGrace.count());
  if (::WaitForSingleObject(watch.finished.get(), limit) != WAIT_TIMEOUT) return 0;
  const std::optional<LimitRecord> record = ClaimEndAtLimit(watch.mode, watch.line, watch.end, watch.stage, platform::DetachedCreation());
  if (!record) {
    // The run claimed its end and is writing its last lines: it has the
    // grace for them, and past it is ended as any run at its limit.
    if (::WaitForSingleObject(watch.finished.get(), grace) != WAIT_TIMEOUT) return 0;
  } else {
    LogWithinGrace(*record);
    // The service's process a creation that did not return was making may
    // never have been let run; left suspended, every later run would count
    // it as the service. Ended last, so that the launch has had every
    // moment to create it.
    if (record->launch_overtaken) platform::EndChildrenNamed(contract::Widen(contract::kServiceImageName));
  }
  // Neither exit nor ExitProcess: exit runs the runtime's exit code (static
  // destructors, the logger's last flush), which takes the locks of the log
  // and of the streams that a blocked thread may hold; ExitProcess runs every
  // library's detach code under the loader lock, which a thread blocked
  // inside a library (the IP helper, a file system filter) may hold. Either
  // would hold up the very end this limit exists for. Nothing is lost:
  // the line went out through a flushed stream, the log's lines are written
  // to the file as they come, and the system releases every handle, lock
  // and job of the process. (A thread left inside the log's write above is
  // ended with it.)
  ::TerminateProcess(::GetCurrentProcess(), 0);
  return 0;
}

}  // namespace

RunLimit::RunLimit(contract::CallerMode mode, LineWriter& writer)
    : line_(writer), watch_(new (std::nothrow) RunLimitWatch(mode, line_, stage_, end_)) {
  // Refused memory leaves the run without a limit, as a refused thread does,
  // rather than ending it before its line.
  if (!watch_) {
    started_ = platform::SystemError{"new", ERROR_NOT_ENOUGH_MEMORY};
    return;
  }
  watch_->finished.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!watch_->finished) {
    started_ = platform::LastError("CreateEventW");
    return;
  }
  platform::Expected<platform::UniqueHandle> thread = platform::StartThread(WatchRun, watch_.get());
  if (!thread.ok()) started_ = thread.error();
  else watch_->thread = std::move(*thread);
}

RunLimit::~RunLimit() { Finish(); }

void RunLimit::Finish() {
  if (!watch_ || !watch_->thread) return;
  if (!end_.Claim(RunEnd::Owner::kRun) && end_.owner() == RunEnd::Owner::kLimit) {
    // The limit owns the end, and ends the process within its graces.
    ::WaitForSingleObject(watch_->thread.get(), INFINITE);
    return;
  }
  ::SetEvent(watch_->finished.get());
  ::WaitForSingleObject(watch_->thread.get(), INFINITE);
  watch_->thread.reset();
}

}  // namespace starter::app
