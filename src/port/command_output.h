#pragma once
#include <string>

namespace starter::port {

// Runs `command_line` through the system's command interpreter and appends
// its whole standard output, read in text mode, to `output`. The interpreter
// is the system directory's cmd.exe, run in that directory: a netstat.exe or
// findstr.exe planted in the caller's current folder is never found before
// the system's own. It gets no window and inherits nothing but the pipe of
// its standard output. False when the command cannot be started ("popen
// error") or its output cannot be read ("read pipe error").
bool ReadCommandOutput(const char* command_line, std::string& output);

// What ReadCommandOutput does, for any program: runs `program` with
// `command_line` in `folder` and appends its standard output.
bool ReadProgramOutput(const std::wstring& program, const std::wstring& folder,
                       std::wstring command_line, std::string& output);

}  // namespace starter::port
