#pragma once
// A time limit on a program the starter reads the output of. Nothing else
// bounds such a read: a program that never ends, or that leaves a process
// behind holding its output pipe, would keep the starter waiting for good.
#include <windows.h>

#include <atomic>
#include <chrono>

#include "platform/handles.h"
#include "platform/process_start.h"
#include "platform/system_error.h"

namespace starter::platform {

// Ends a started program and every process it started: its whole job, or
// where it has none, the program and its descendants found by parent id.
void EndProgram(const ProgramWithOutput& started);

// Once started, watches `started` from a thread of its own until Stop, or
// until the object goes. When the limit passes first, it ends the program
// (EndProgram). Should a process the search by parent id could not find
// still hold the pipe, it then cancels the read that the thread which
// started the watch is blocked in, again and again until the watch stops. So everything that thread does
// with the program meanwhile, reading its output and waiting for its end,
// comes to an end soon after the limit.
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
  static DWORD WINAPI Watch(void* deadline);

  const ProgramWithOutput& started_;
  DWORD limit_ms_ = 0;
  UniqueHandle stop_;     // set when the object goes
  UniqueHandle reader_;   // the thread that started the watch, whose read is cancelled
  UniqueHandle watcher_;
  std::atomic<bool> expired_{false};
};

}  // namespace starter::platform
