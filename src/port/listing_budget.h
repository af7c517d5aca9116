#pragma once
// The time the connection listings of one port selection may take: each one
// on its own, and all of them together. A listing that never ends, or a run
// of slow ones, would otherwise hold up the run. Once the time is spent, or a
// listing ran out of its own (the listing is held up: the next would be too),
// the ports left are judged from the system's TCP tables alone, without
// starting another listing.
#include <chrono>
#include <optional>

namespace starter::port {

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
