#include "status/json_text.h"

#include <fmt/format.h>

#include <utility>

namespace starter::status {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// How many bytes a UTF-8 sequence with this lead byte has; 0 for a byte
// that cannot lead one (a continuation byte, C0 and C1, which only lead
// overlong forms, and F5 to FF, beyond U+10FFFF).
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead < 0xE0) return 2;
  if (lead >= 0xE0 && lead < 0xF0) return 3;
  if (lead >= 0xF0 && lead < 0xF5) return 4;
  return 0;
}

// The range the byte after `lead` must lie in. Narrower than 80..BF after
// E0 and F0 (overlong forms), ED (the surrogates D800..DFFF) and F4 (code
// points above U+10FFFF).
std::pair<unsigned char, unsigned char> SecondByteRange(unsigned char lead) {
  switch (lead) {
    case 0xE0: return {0xA0, 0xBF};
    case 0xED: return {0x80, 0x9F};
    case 0xF0: return {0x90, 0xBF};
    case 0xF4: return {0x80, 0x8F};
    default: return {0x80, 0xBF};
  }
}

// How many bytes at the front of `text` form one well-formed UTF-8
// sequence (`whole`), or else the longest start of one (at least the first
// byte), which is replaced by one U+FFFD as a whole.
struct Sequence {
  std::size_t length = 1;
  bool whole = false;
};

Sequence SequenceAt(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const std::size_t expected = SequenceLength(lead);
  if (expected == 0) return {};
  auto [low, high] = SecondByteRange(lead);
  std::size_t length = 1;
  for (; length < expected && length < text.size(); ++length, low = 0x80, high = 0xBF) {
    const auto byte = static_cast<unsigned char>(text[length]);
    if (byte < low || byte > high) break;
  }
  return {length, length == expected};
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  while (!text.empty()) {
    const char c = text[0];
    const auto [length, whole] = SequenceAt(text);
    if (!whole) {
      out += kReplacement;
      text.remove_prefix(length);
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += fmt::format("\\u{:04x}", static_cast<unsigned>(c));
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out + "\"";
}

JsonObject& JsonObject::Add(std::string_view name, std::string_view json_value) {
  if (body_.size() > 1) body_ += ',';
  body_ += JsonString(name);
  body_ += ':';
  body_ += json_value;
  return *this;
}

JsonObject& JsonObject::Text(std::string_view name, std::string_view text) { return Add(name, JsonString(text)); }

JsonObject& JsonObject::TextOrNull(std::string_view name, const std::optional<std::string>& text) {
  return Add(name, text ? JsonString(*text) : "null");
}

JsonObject& JsonObject::Number(std::string_view name, std::uint64_t value) { return Add(name, std::to_string(value)); }

JsonObject& JsonObject::NumberOrNull(std::string_view name, const std::optional<std::uint64_t>& value) {
  return Add(name, value ? std::to_string(*value) : "null");
}

JsonObject& JsonObject::Boolean(std::string_view name, std::optional<bool> value) {
  return Add(name, !value ? "null" : *value ? "true" : "false");
}

}  // namespace starter::status
