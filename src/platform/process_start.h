#pragma once
// Starting programs: the one place that calls CreateProcessW. The service is
// started detached and left to run; the commands whose output the starter
// reads are started with a pipe as their only inherited handle, and under a
// time limit (ProgramDeadline). Nothing else bounds such a read: a program
// that never ends, or that leaves a process behind holding its output pipe,
// would keep the starter waiting for good.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/call_in_progress.h"
#include "platform/handles.h"
#include "platform/system_error.h"

namespace starter::platform {

// The process and first-thread handles of a started program, closed (process
// first) when the owner goes or Close() is called.
class ProcessInformation {
 public:
  ProcessInformation() = default;
  explicit ProcessInformation(const PROCESS_INFORMATION& created)
      : process_(created.hProcess), thread_(created.hThread), process_id_(created.dwProcessId) {}

  HANDLE process() const { return process_.get(); }
  HANDLE thread() const { return thread_.get(); }
  std::uint32_t process_id() const { return process_id_; }
  void Close() {
    process_.reset();
    thread_.reset();
  }

 private:
  UniqueHandle process_;
  UniqueHandle thread_;
  std::uint32_t process_id_ = 0;
};

// Starts `application` with `command_line` detached from any console,
// inheriting no handle, the environment and the current folder of the
// starter; STARTUPINFOW is zeroed but for its size.
Expected<ProcessInformation> StartDetached(const std::wstring& application, std::wstring command_line);

// StartDetached's CreateProcessW while it is under way. The system creates
// the new process suspended and lets it run only as the call returns: a
// process ended inside the call leaves a child that never runs. The run's
// limit waits for this call, and for nothing after it, before it ends a run.
const CallInProgress& DetachedCreation();

// Whether the starter has a console. A hidden one, which a caller gives a
// program it starts without a window, counts too; GetConsoleWindow would
// answer null for it.
bool HasOwnConsole();

// A started program and the read end of the pipe that is its standard output.
struct ProgramWithOutput {
  ProcessInformation program;
  UniqueHandle output;
  // A job holding the program and every process it starts, which ends them
  // all when closed. Empty when the system would not make one or put the
  // program in it (the starter sits in a job that allows no other); then
  // `job_refused` says why, and only the program itself is held.
  UniqueHandle job;
  Status job_refused;
};

// Starts `program` with `command_line` in `folder`, its standard output the
// write end of a new pipe and no standard input or error, in a job of its
// own. The write end is the only handle it inherits, whatever else of the
// starter is inheritable; the starter keeps only the read end. A starter with
// a console shares it; one without (started detached) starts the program
// with a console of its own that has no window, so none flashes up.
Expected<ProgramWithOutput> StartWithOutputPipe(const std::wstring& program, const std::wstring& folder,
                                                std::wstring command_line);

// Ends a started program and every process it started: its whole job, or
// where it has none, the program and its descendants found by parent id.
void EndProgram(const ProgramWithOutput& started);

// Ends every process this one started whose image is named `image_name`
// (compared exactly), as a process of that id created after this one: one
// still suspended inside a process creation that did not return, too.
void EndChildrenNamed(std::wstring_view image_name);

// Once started, watches `started` from a thread of its own until Stop, or
// until the object goes. When the limit passes first, it ends the program
// (EndProgram). Should a process the search by parent id could not find
// still hold the pipe, it then cancels the read that the thread which
// started the watch is blocked in, again and again until the watch stops.
// So everything that thread does with the program meanwhile, reading its
// output and waiting for its end, comes to an end soon after the limit.
class ProgramDeadline {
 public:
  explicit ProgramDeadline(const ProgramWithOutput& started) : started_(started) {}
  ~ProgramDeadline();
  ProgramDeadline(const ProgramDeadline&) = delete;
  ProgramDeadline& operator=(const ProgramDeadline&) = delete;

  // Starts the watch; the failure when it cannot be, and nothing then bounds
  // what the caller does with the program.
  Status Start(std::chrono::milliseconds limit);
  // Ends the watch. Once it returns, nothing cancels this thread's reads
  // any more: what the thread writes after (a log line about the program,
  // say) cannot be cut short by the watch.
  void Stop();
  // Whether the limit passed, and the program was ended.
  bool Expired() const { return expired_.load(); }

 private:
  static unsigned __stdcall Watch(void* deadline);

  const ProgramWithOutput& started_;
  DWORD limit_ms_ = 0;
  UniqueHandle stop_;     // set when the object goes
  UniqueHandle reader_;   // the thread that started the watch, whose read is cancelled
  UniqueHandle watcher_;
  std::atomic<bool> expired_{false};
};

}  // namespace starter::platform
