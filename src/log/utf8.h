#pragma once
#include <string>
#include <string_view>

namespace starter::log {

// Converts wide text to UTF-8. On Windows a wide character is a UTF-16 unit;
// elsewhere it is a whole code point. A lone surrogate or a value that is no
// code point becomes U+FFFD, as the system converter does, so a malformed
// path can never produce bytes that are not UTF-8.
std::string WideToUtf8(std::wstring_view text);

}  // namespace starter::log
