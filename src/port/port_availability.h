#pragma once
#include <string>

namespace starter::port {

// Runs `command_line` through the command interpreter and appends its whole
// standard output to `output`. Returns 0, or -1 when the command cannot be
// started ("popen error") or its output cannot be read ("read pipe error").
int ReadCommandOutput(const char* command_line, std::string& output);

// Whether `port` may be given to the Vantic service: nothing listens on it or
// is connected through it, or what holds it is the service itself. Ports
// outside 1024..65535 are refused.
bool IsPortAvailable(int port);

}  // namespace starter::port
