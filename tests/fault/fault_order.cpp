#include "fault/fault_order.h"

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

std::optional<FaultOrder> ParseFaultOrder(std::string_view text) {
  const bool has_fields = text.find(':') != std::string_view::npos;
  FaultOrder order;
  order.function = TakeField(text);
  const std::string_view call = TakeField(text);
  order.failure = TakeField(text);
  const std::string_view from = TakeField(text);
  const auto [end, error] = std::from_chars(call.data(), call.data() + call.size(), order.call);
  const bool call_is_number = error == std::errc() && end == call.data() + call.size() && order.call > 0;
  if (!has_fields || order.function.empty() || !call_is_number || order.failure.empty() || !text.empty())
    return std::nullopt;
  if (from != "from" && !from.empty()) return std::nullopt;
  order.from = from == "from";
  return order;
}

std::string FormatFaultOrder(const FaultOrder& order) {
  return std::string(order.function) + ":" + std::to_string(order.call) + ":" + std::string(order.failure) +
         (order.from ? ":from" : "");
}

}  // namespace starter::fault
