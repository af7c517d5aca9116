#include "status/json_text.h"

#include <fmt/format.h>

namespace starter::status {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// How many bytes a UTF-8 sequence with this lead byte has; 0 for a byte
// that cannot lead one.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead < 0xE0) return 2;
  if (lead >= 0xE0 && lead < 0xF0) return 3;
  if (lead >= 0xF0 && lead < 0xF5) return 4;
  return 0;
}

// The length of the UTF-8 sequence that starts `text`, or 0 when it is none.
std::size_t Utf8Length(std::string_view text) {
  const std::size_t length = SequenceLength(static_cast<unsigned char>(text[0]));
  if (length == 0 || text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0;
  return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  while (!text.empty()) {
    const char c = text[0];
    const std::size_t length = Utf8Length(text);
    if (length == 0) {
      out += kReplacement;
      text.remove_prefix(1);
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
