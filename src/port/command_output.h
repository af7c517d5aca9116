#pragma once
#include <string>

namespace starter::port {

// Runs `command_line` through the command interpreter and appends its whole
// standard output to `output`. False when the command cannot be started
// ("popen error") or its output cannot be read ("read pipe error").
bool ReadCommandOutput(const char* command_line, std::string& output);

}  // namespace starter::port
