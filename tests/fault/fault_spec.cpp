#include "fault/fault_spec.h"

#include <charconv>

namespace starter::fault {
namespace {

// The text before the next colon, taken off `text`.
std::string_view TakeField(std::string_view& text) {
  const std::size_t colon = text.find(':');
  const std::string_view field = text.substr(0, colon);
  text.remove_prefix(colon == std::string_view::npos ? text.size() : colon + 1);
  return field;
}

}  // namespace

std::optional<FaultSpec> ParseFaultSpec(std::string_view text) {
  const bool has_fields = text.find(':') != std::string_view::npos;
  FaultSpec spec;
  spec.function = TakeField(text);
  const std::string_view call = TakeField(text);
  spec.failure = TakeField(text);
  const std::string_view from = TakeField(text);
  const auto [end, error] = std::from_chars(call.data(), call.data() + call.size(), spec.call);
  const bool call_is_number = error == std::errc() && end == call.data() + call.size() && spec.call > 0;
  if (!has_fields || spec.function.empty() || !call_is_number || spec.failure.empty() || !text.empty())
    return std::nullopt;
  if (from != "from" && !from.empty()) return std::nullopt;
  spec.from = from == "from";
  return spec;
}

std::string FormatFaultSpec(const FaultSpec& spec) {
  return std::string(spec.function) + ":" + std::to_string(spec.call) + ":" + std::string(spec.failure) +
         (spec.from ? ":from" : "");
}

}  // namespace starter::fault
