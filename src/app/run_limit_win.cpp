#include <windows.h>

#include <memory>

#include "app/run_limit.h"
#include "log/diag_log.h"
#include "platform/handles.h"

namespace starter::app {
namespace {

struct RunLimitWatch {
  contract::CallerMode mode;
  StatusLineOnce& line;
  const RunStage& stage;
};

DWORD WINAPI WarnInLog(void* stage) {
  log::Warn("run ended at its time limit in {}", static_cast<const char*>(stage));
  log::Flush();
  return 0;
}

// The log may be what holds the run up (its file behind a filter driver or
// on a share that hangs, its writers' lock): the warning is written on a
// thread of its own, which is waited for a bounded time and then left.
void WarnWithinGrace(const char* stage) {
  const platform::UniqueHandle writer(
      ::CreateThread(nullptr, 0, WarnInLog, const_cast<char*>(stage), 0, nullptr));
  if (writer) ::WaitForSingleObject(writer.get(), static_cast<DWORD>(kRunLimitGrace.count()));
}

DWORD WINAPI WatchRun(void* parameter) {
  const std::unique_ptr<RunLimitWatch> watch(static_cast<RunLimitWatch*>(parameter));
  ::Sleep(static_cast<DWORD>(std::chrono::milliseconds(contract::RunLimit(watch->mode)).count()));
  ReachRunLimit(watch->mode, watch->line, watch->stage, WarnWithinGrace);
  // Neither exit nor ExitProcess: exit runs the runtime's exit code (static
  // destructors, the logger's last flush), which takes the locks of the log
  // and of the streams that a blocked thread may hold; ExitProcess runs every
  // library's detach code under the loader lock, which a thread blocked
  // inside a library (the IP helper, a file system filter) may hold. Either
  // would hold up the very end this limit exists for. Nothing is lost:
  // the line went out through a flushed stream, the log's lines are written
  // to the file as they come, and the system releases every handle, lock
  // and job of the process.
  ::TerminateProcess(::GetCurrentProcess(), 0);
  return 0;
}

}  // namespace

platform::Failure StartRunLimit(contract::CallerMode mode, StatusLineOnce& line, const RunStage& stage) {
  auto watch = std::make_unique<RunLimitWatch>(RunLimitWatch{mode, line, stage});
  const platform::UniqueHandle thread(::CreateThread(nullptr, 0, WatchRun, watch.get(), 0, nullptr));
  if (!thread) return platform::SystemError{"CreateThread", ::GetLastError()};
  static_cast<void>(watch.release());  // the thread owns it now
  return std::nullopt;
}

}  // namespace starter::app
