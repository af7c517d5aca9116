#pragma once
// Starting programs: the one place that calls CreateProcessW. The service is
// started detached and left to run; the commands whose output the starter
// reads are started with a pipe as their only inherited handle.
#include <windows.h>

#include <cstdint>
#include <string>

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

}  // namespace starter::platform
