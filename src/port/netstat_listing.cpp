#include "port/netstat_listing.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace starter::port {
namespace {

constexpr int kMinStartPort = 1024;
constexpr int kMaxStartPort = 65535;

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

// The leading decimal digits of `text`; 0 when there are none or they do not
// fit a process id.
std::uint32_t ParseProcessId(std::string_view text) {
  std::uint32_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  return error == std::errc() ? id : 0;
}

}  // namespace

bool IsValidStartPort(int port) {
  return static_cast<unsigned>(port) - static_cast<unsigned>(kMinStartPort) <=
         static_cast<unsigned>(kMaxStartPort - kMinStartPort);
}

std::string AvailabilityCommandLine(int port) {
  return "netstat -ano | findstr " + std::to_string(port);
}

ListingVerdict JudgeListing(std::string_view listing, int port) {
  // Protocol, local address, foreign address, state, owner id.
  enum Column { kProtocol, kLocal, kForeign, kState, kColumnsWithState };
  const std::string local_tail = ":" + std::to_string(port);
  bool connected = false;
  while (!listing.empty()) {
    const auto line_end = std::min(listing.find('\n'), listing.size());
    const auto columns = SplitColumns(listing.substr(0, line_end));
    listing.remove_prefix(std::min(line_end + 1, listing.size()));
    if (columns.size() < kColumnsWithState || columns[kProtocol] != "TCP" ||
        !EndsWith(columns[kLocal], local_tail))
      continue;
    if (columns[kState] == "LISTENING") {
      const bool has_owner = columns.size() > kColumnsWithState;
      return {ListingVerdict::Ask::kOwner, has_owner ? ParseProcessId(columns.back()) : 0};
    }
    connected = connected || columns[kState] == "ESTABLISHED";
  }
  return {connected ? ListingVerdict::Ask::kAnyService : ListingVerdict::Ask::kNothing, 0};
}

}  // namespace starter::port
