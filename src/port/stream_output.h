#pragma once
#include <cstdio>
#include <string>

namespace starter::port {

// Appends what remains of `stream` to `output`, read in pieces of 500 bytes.
// True at its end; false (logged as "read pipe error", then the runtime's
// errno in a line of its own) when the stream reports an error, and what was
// read before the error stays in `output`.
bool AppendStreamOutput(std::FILE* stream, std::string& output);

}  // namespace starter::port
