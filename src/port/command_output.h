#pragma once
// A command run through the system's command interpreter, and its whole
// output read within a time limit: how the connection listing is had.
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/system_error.h"

namespace starter::port {

// The interpreter's command line for `command_line`: "cmd.exe /d /c " and the
// command. /d keeps the machine's and the user's Command Processor AutoRun
// commands out: a slow one would cost every listing its time limit, a cd or
// chcp would change where netstat and findstr are found or the console's
// code page, and under an elevated starter the user's own would run elevated.
std::wstring InterpreterCommandLine(const std::wstring& command_line);

// Appends what remains of `stream` (the command's output) to `output`, read
// in pieces of 500 bytes, to its end; the runtime's errno when the stream
// reports an error, and what was read before the error stays in `output`.
// Logs nothing: the caller's "read pipe error" comes once the read's watch
// has stopped.
platform::Status AppendStreamOutput(std::FILE* stream, std::string& output);

// --- The machine (Windows) ---------------------------------------------------

// How a read of a command's output ended: three answers its caller tells
// apart (one that ran out of time holds up every later command too).
enum class CommandOutput {
  kRead,      // the whole output was read
  kFailed,    // the command could not be started ("popen error") or its output read ("read pipe error")
  kTimedOut,  // the limit passed: the command and all it started were ended
};

// Runs `command_line` through the system's command interpreter (with the
// command line InterpreterCommandLine gives) and appends its whole standard
// output, read in text mode, to `output`. The interpreter is the system
// directory's cmd.exe, run in that directory: a netstat.exe or findstr.exe
// planted in the caller's current folder is never found before the system's
// own. It gets no window and inherits nothing but the pipe of its standard
// output. Once `limit` has passed, the interpreter and every program it
// started are ended and the read ends with what came so far. It logs what
// kept the output from being read, and that the command ran out of time,
// once the limit's watch has stopped: until then the watch may cancel this
// thread's writes to the log.
CommandOutput ReadCommandOutput(const char* command_line, std::string& output, std::chrono::milliseconds limit);

}  // namespace starter::port
