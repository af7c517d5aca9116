#include "log/log_lines.h"

#include <charconv>
#include <optional>

namespace starter::log {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// The text between "[" at the front of `rest` and the next "] ", which is
// taken off `rest` with it.
std::optional<std::string_view> TakeBracketed(std::string_view& rest) {
  if (rest.empty() || rest.front() != '[') return std::nullopt;
  const std::size_t close = rest.find("] ");
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view field = rest.substr(1, close - 1);
  rest.remove_prefix(close + 2);
  return field;
}

}  // namespace

std::optional<LogLine> ParseLogLine(std::string_view text) {
  const std::optional<std::string_view> id = TakeBracketed(text);
  const std::optional<std::string_view> time = id ? TakeBracketed(text) : std::nullopt;
  const std::optional<std::string_view> level = time ? TakeBracketed(text) : std::nullopt;
  if (!level) return std::nullopt;
  LogLine line;
  const auto [end, error] = std::from_chars(id->data(), id->data() + id->size(), line.process_id);
  if (error != std::errc() || end != id->data() + id->size()) return std::nullopt;
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  line.time = std::string(*time);
  line.level = std::string(*level);
  line.message = std::string(text);
  return line;
}

std::vector<LogLine> ParseLogLines(std::string_view text) {
  std::vector<LogLine> lines;
  for (std::size_t end = text.find(kLineEnd); end != std::string_view::npos; end = text.find(kLineEnd)) {
    if (std::optional<LogLine> line = ParseLogLine(text.substr(0, end))) lines.push_back(std::move(*line));
    text.remove_prefix(end + kLineEnd.size());
  }
  return lines;
}

}  // namespace starter::log
