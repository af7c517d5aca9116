#pragma once
// Text a caller hands the starter, made safe to write as part of one log
// line. The log is read back line by line (support, the status program), so
// an argument holding CR LF could otherwise write whole lines of the log's
// own layout, with another process id, a start and an end of a run that
// never was.
#include <string>
#include <string_view>

namespace starter::log {

// `text` with each control character (C0 and DEL) written as an escape:
// "\r", "\n", "\t", and "\xNN" for the rest. Every other byte stays as it
// is, a backslash too, so text without control characters is logged byte
// for byte.
std::string EscapeControls(std::string_view text);

}  // namespace starter::log
