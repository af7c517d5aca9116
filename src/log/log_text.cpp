#include "log/log_text.h"

#include <cstdint>

namespace starter::log {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Needed only where wchar_t holds UTF-16 units (Windows); elsewhere the code
// that uses them is discarded at compile time.
[[maybe_unused]] bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
[[maybe_unused]] bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendCodePoint(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}


constexpr unsigned char kDelete = 0x7F;

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == kDelete; }

void AppendEscape(std::string& out, unsigned char byte) {
  switch (byte) {
    case '\r': out += "\\r"; return;
    case '\n': out += "\\n"; return;
    case '\t': out += "\\t"; return;
    default: break;
  }
  constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsControl(byte)) AppendEscape(out, byte);
    else out += c;
  }
  return out;
}

std::string WideToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    auto unit = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i]));
    if constexpr (sizeof(wchar_t) == 2) {
      if (IsHighSurrogate(unit) && i + 1 < text.size()) {
        auto next = static_cast<char32_t>(static_cast<uint16_t>(text[i + 1]));
        if (IsLowSurrogate(next)) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
          ++i;
        }
      }
    }
    AppendCodePoint(out, unit);
  }
  return out;
}


}  // namespace starter::log
