#pragma once
// Writing JSON by hand: the report needs strings, numbers, booleans, null,
// objects and arrays, nothing more.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace starter::status {

// `text` (UTF-8) as a JSON string, quotes included: quotes, backslashes and
// control characters escaped; each ill-formed UTF-8 sequence (a stray byte,
// a cut sequence, an overlong form, a surrogate, a value above U+10FFFF)
// becomes one U+FFFD, so the object stays valid for a strict reader
// whatever a path or a log line holds.
std::string JsonString(std::string_view text);

// The items of `items`, each written by `to_json`, as one JSON array.
template <typename Items, typename ToJson>
std::string JsonArray(const Items& items, ToJson&& to_json) {
  std::string array = "[";
  for (const auto& item : items) array += (array.size() > 1 ? "," : "") + to_json(item);
  return array + "]";
}

// Builds one object, members in the order added.
class JsonObject {
 public:
  JsonObject& Add(std::string_view name, std::string_view json_value);  // a value already written as JSON
  JsonObject& Text(std::string_view name, std::string_view text);
  JsonObject& TextOrNull(std::string_view name, const std::optional<std::string>& text);
  JsonObject& Number(std::string_view name, std::uint64_t value);
  JsonObject& NumberOrNull(std::string_view name, const std::optional<std::uint64_t>& value);
  JsonObject& Boolean(std::string_view name, std::optional<bool> value);
  std::string Close() const { return body_ + "}"; }

 private:
  std::string body_ = "{";
};

}  // namespace starter::status
