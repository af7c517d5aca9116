#pragma once
// The connection listing, "netstat -ano | findstr <port>": the command that
// makes it, how its rows are read, and how long the listings of one port
// selection may take.
//
// findstr keeps every line holding the port's digits anywhere (19673 for
// 9673, a remote address, an owner id), so the rows are read exactly here:
// only TCP rows whose local address ends in ":<port>" have a say.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace starter::port {

// "netstat -ano | findstr " followed by the port's decimal digits.
std::string AvailabilityCommandLine(int port);

// Which question about the Vantic service, if any, settles whether the port is usable.
struct ListingVerdict {
  enum class Ask {
    kNothing,     // no row listens on the port or is connected through it: usable
    kOwner,       // a row listens: usable exactly when its owner is the service
    kAnyService,  // only connections: usable exactly when some service runs
    // Only connections whose state is printed in the system's language: as
    // kAnyService when the system's TCP tables hold an established
    // connection on the port, as kNothing otherwise.
    kConnectionTables,
  };
  Ask ask = Ask::kNothing;
  std::optional<std::uint32_t> owner_id;  // for Ask::kOwner; none when the row names no owner
};

// The first listening row for `port` decides: its state is LISTENING or its
// foreign address is the wildcard 0.0.0.0:0 or [::]:0, the one a listener
// shows whatever language the states are printed in. Without one, any
// ESTABLISHED row does, then any row with a state word netstat does not print
// in English. Other English states and UDP rows never count. The owner is the
// last column: a translated state may be more than one word.
ListingVerdict JudgeListing(std::string_view listing, int port);

// The time the connection listings of one port selection may take: each one
// on its own, and all of them together. A listing that never ends, or a run
// of slow ones, would otherwise hold up the run. Once the time is spent, or a
// listing ran out of its own (the listing is held up: the next would be too),
// the ports left are judged from the system's TCP tables alone, without
// starting another listing.
class ListingBudget {
 public:
  using Clock = std::chrono::steady_clock;

  ListingBudget(std::chrono::milliseconds each, std::chrono::milliseconds total) : each_(each), total_(total) {}

  // The time a listing that starts at `now` may take: its own limit, or what
  // is left of the total when that is less; zero once the total is spent.
  // The total runs from the first listing.
  std::chrono::milliseconds Left(Clock::time_point now);
  // A listing ran out of its time: none is started any more.
  void RanOut() { ran_out_ = true; }

 private:
  std::chrono::milliseconds each_;
  std::chrono::milliseconds total_;
  std::optional<Clock::time_point> end_;
  bool ran_out_ = false;
};

}  // namespace starter::port
