#include "port/netstat_listing.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <vector>

namespace starter::port {
namespace {

using Ask = ListingVerdict::Ask;

// Columns are padded with spaces, but a listing may also carry tabs, and
// carriage returns when it was not read through a text-mode stream.
constexpr std::string_view kBlanks = " \t\r";

std::vector<std::string_view> SplitColumns(std::string_view line) {
  std::vector<std::string_view> columns;
  for (auto start = line.find_first_not_of(kBlanks); start != std::string_view::npos;) {
    const auto end = std::min(line.find_first_of(kBlanks, start), line.size());
    columns.push_back(line.substr(start, end - start));
    start = line.find_first_not_of(kBlanks, end);
  }
  return columns;
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// Every state word netstat prints on an English (or Chinese) system. Other
// systems print translated words in their OEM code page ("ABH\x99REN",
// "\xB7 L'\x90COUTE"), which are never compared: a row whose first state
// word is not one of these is a connection in an unknown state.
constexpr std::string_view kEnglishStates[] = {
    "CLOSED",     "LISTENING", "SYN_SENT", "SYN_RECEIVED", "ESTABLISHED", "FIN_WAIT_1", "FIN_WAIT_2",
    "CLOSE_WAIT", "CLOSING",   "LAST_ACK", "TIME_WAIT",    "DELETE_TCB",  "BOUND"};

// Protocol, local address, foreign address, then the state (one or more
// words) and the owner id as the last column.
enum Column { kProtocol, kLocal, kForeign, kState, kColumnsWithState };

enum class RowKind { kOther, kListening, kEstablished, kUnreadState };

RowKind KindOfRow(const std::vector<std::string_view>& columns, std::string_view local_tail) {
  if (columns.size() < kColumnsWithState || columns[kProtocol] != "TCP" ||
      !EndsWith(columns[kLocal], local_tail))
    return RowKind::kOther;
  const std::string_view foreign = columns[kForeign];
  if (columns[kState] == "LISTENING" || foreign == "0.0.0.0:0" || foreign == "[::]:0")
    return RowKind::kListening;
  if (columns[kState] == "ESTABLISHED") return RowKind::kEstablished;
  const bool english = std::find(std::begin(kEnglishStates), std::end(kEnglishStates),
                                 columns[kState]) != std::end(kEnglishStates);
  return english ? RowKind::kOther : RowKind::kUnreadState;
}

// The leading decimal digits of `text`; none when there are none, they do
// not fit a process id, or they name process 0, which holds no socket.
std::optional<std::uint32_t> ParseProcessId(std::string_view text) {
  std::uint32_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (error != std::errc() || id == 0) return std::nullopt;
  return id;
}

}  // namespace

std::string AvailabilityCommandLine(int port) {
  return "netstat -ano | findstr " + std::to_string(port);
}

ListingVerdict JudgeListing(std::string_view listing, int port) {
  const std::string local_tail = ":" + std::to_string(port);
  bool established = false;
  bool unread_state = false;
  while (!listing.empty()) {
    const auto line_end = std::min(listing.find('\n'), listing.size());
    const auto columns = SplitColumns(listing.substr(0, line_end));
    listing.remove_prefix(std::min(line_end + 1, listing.size()));
    switch (KindOfRow(columns, local_tail)) {
      case RowKind::kListening:
        // A row without an owner ends in its state, which names none.
        return {Ask::kOwner, ParseProcessId(columns.back())};
      case RowKind::kEstablished:
        established = true;
        break;
      case RowKind::kUnreadState:
        unread_state = true;
        break;
      case RowKind::kOther:
        break;
    }
  }
  if (established) return {Ask::kAnyService, std::nullopt};
  return {unread_state ? Ask::kConnectionTables : Ask::kNothing, std::nullopt};
}

std::chrono::milliseconds ListingBudget::Left(Clock::time_point now) {
  if (ran_out_) return std::chrono::milliseconds::zero();
  if (!end_) end_ = now + total_;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*end_ - now);
  return std::clamp(left, std::chrono::milliseconds::zero(), each_);
}

}  // namespace starter::port
