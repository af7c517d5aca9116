#pragma once
#include <cstdio>
#include <string>

namespace starter::port {

// Appends what remains of `stream` to `output`, read in pieces of 500 bytes.
// Returns 0 at its end, or -1 (logged as "read pipe error") when the stream
// reports an error; what was read before the error stays in `output`.
int AppendStreamOutput(std::FILE* stream, std::string& output);

}  // namespace starter::port
