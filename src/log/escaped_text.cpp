#include "log/escaped_text.h"

namespace starter::log {
namespace {

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

}  // namespace starter::log
