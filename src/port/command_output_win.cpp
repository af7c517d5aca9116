#include "port/command_output.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "log/diag_log.h"
#include "platform/handles.h"
#include "platform/process_start.h"
#include "platform/system_facts.h"

namespace starter::port {
namespace {

using platform::UniqueHandle;

struct StreamCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using UniqueStream = std::unique_ptr<std::FILE, StreamCloser>;

// The read end as a text-mode stream, as the runtime's command pipe reads:
// each CR LF arrives as one newline. The stream owns the handle once made.
platform::Expected<UniqueStream> TextStreamOf(UniqueHandle& read_end) {
  const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(read_end.get()), _O_RDONLY | _O_TEXT);
  if (descriptor == -1) return platform::ErrnoError("_open_osfhandle");
  static_cast<void>(read_end.release());  // the descriptor closes it now
  UniqueStream stream(_fdopen(descriptor, "rt"));
  if (stream) return stream;
  const platform::SystemError failed = platform::ErrnoError("_fdopen");
  _close(descriptor);
  return failed;
}

// The fixed line of a failed step, and the system's reason in a line of its own.
CommandOutput Failed(const char* line, const platform::SystemError& error) {
  log::Info("{}", line);
  log::Info("{}", Describe(error));
  return CommandOutput::kFailed;
}

// Reads the program's output to its end, then waits for the program; what
// kept the output from being read whole.
platform::Status ReadToEnd(platform::ProgramWithOutput& started, std::string& output) {
  platform::Expected<UniqueStream> stream = TextStreamOf(started.output);
  const platform::Status read = stream.ok() ? AppendStreamOutput(stream->get(), output) : stream.error();
  // Closed before the wait, so a command whose output was not read to its
  // end cannot block on a full pipe.
  if (stream.ok()) stream->reset();
  started.output.reset();
  ::WaitForSingleObject(started.program.process(), INFINITE);
  return read;
}

}  // namespace

// What ReadCommandOutput does, for any program: runs `program` with
// `command_line` in `folder` and appends its standard output. Tests run it
// by name on programs of their own.
CommandOutput ReadProgramOutput(const std::wstring& program, const std::wstring& folder, std::wstring command_line,
                                std::string& output, std::chrono::milliseconds limit) {
  const std::wstring command = command_line;  // CreateProcessW may write into the one it gets
  platform::Expected<platform::ProgramWithOutput> started =
      platform::StartWithOutputPipe(program, folder, std::move(command_line));
  if (!started.ok()) return Failed("popen error", started.error());
  platform::ProgramDeadline deadline(*started);
  if (const platform::Status watched = deadline.Start(limit); !watched.ok()) {
    // Nothing would bound the read: the program is not waited for.
    platform::EndProgram(*started);
    return Failed("popen error", watched.error());
  }
  const platform::Status read = ReadToEnd(*started, output);
  // Until the watch stops it may cancel this thread's I/O, a write of the
  // log among it: every line about the program comes after.
  deadline.Stop();
  if (!read.ok()) Failed("read pipe error", read.error());
  if (!deadline.Expired()) return read.ok() ? CommandOutput::kRead : CommandOutput::kFailed;
  log::Warn(L"{} ran out of time after {} ms and was ended", command, limit.count());
  // Why the programs it started were looked for by parent id.
  if (!started->job_refused.ok()) log::Info("{}", Describe(started->job_refused.error()));
  return CommandOutput::kTimedOut;
}

CommandOutput ReadCommandOutput(const char* command_line, std::string& output, std::chrono::milliseconds limit) {
  const std::wstring system = platform::SystemDirectory();
  // Without it, "\cmd.exe" would name a file at the root of the current drive.
  if (system.empty()) return Failed("popen error", platform::LastError("GetSystemDirectoryW"));
  return ReadProgramOutput(system + L"\\cmd.exe", system, InterpreterCommandLine(platform::AnsiToWide(command_line)),
                           output, limit);
}

}  // namespace starter::port
