#pragma once
// Text as the log holds it: UTF-8, and one line per message. Text a caller
// hands the starter is made safe to write as part of one log line. The log is read back line by line (support, the status program), so
// an argument holding CR LF could otherwise write whole lines of the log's
// own layout, with another process id, a start and an end of a run that
// never was.
#include <string>
#include <string_view>

namespace starter::log {

// Converts wide text to UTF-8. On Windows a wide character is a UTF-16 unit;
// elsewhere it is a whole code point. A lone surrogate or a value that is no
// code point becomes U+FFFD, as the system converter does, so a malformed
// path can never produce bytes that are not UTF-8.
std::string WideToUtf8(std::wstring_view text);

// `text` with each control character (C0 and DEL) written as an escape:
// "\r", "\n", "\t", and "\xNN" for the rest. Every other byte stays as it
// is, a backslash too, so text without control characters is logged byte
// for byte.
std::string EscapeControls(std::string_view text);

}  // namespace starter::log
