#pragma once
// Running a command and reading what it prints, within a time limit.
#include <chrono>
#include <cstdio>
#include <string>

namespace starter::port {

// How a read of a command's output ended.
enum class CommandOutput {
  kRead,      // the whole output was read
  kFailed,    // the command could not be started ("popen error") or its output read ("read pipe error")
  kTimedOut,  // the limit passed: the command and all it started were ended
};

// Runs `command_line` through the system's command interpreter and appends
// its whole standard output, read in text mode, to `output`. The interpreter
// is the system directory's cmd.exe, run in that directory: a netstat.exe or
// findstr.exe planted in the caller's current folder is never found before
// the system's own. It gets no window and inherits nothing but the pipe of
// its standard output. Once `limit` has passed, the interpreter and every
// program it started are ended and the read ends with what came so far; the
// caller says that it ran out of time.
CommandOutput ReadCommandOutput(const char* command_line, std::string& output, std::chrono::milliseconds limit);

// Appends what remains of `stream` to `output`, read in pieces of 500 bytes.
// True at its end; false (logged as "read pipe error", then the runtime's
// errno in a line of its own) when the stream reports an error, and what was
// read before the error stays in `output`.
bool AppendStreamOutput(std::FILE* stream, std::string& output);

}  // namespace starter::port
