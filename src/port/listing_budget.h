#pragma once
// The time the connection listings of one port selection may take together.
// A listing that never ends, or a run of slow ones, would otherwise hold up
// the run; once the budget is spent, the ports left are judged from the
// system's TCP tables alone, without starting another listing.
#include <chrono>
#include <optional>

namespace starter::port {

class ListingBudget {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ListingBudget(std::chrono::milliseconds total) : total_(total) {}

  // The time a listing that starts at `now` may take: what is left of the
  // budget, which starts running with the first listing; zero once spent.
  std::chrono::milliseconds Left(Clock::time_point now);

 private:
  std::chrono::milliseconds total_;
  std::optional<Clock::time_point> end_;
};

}  // namespace starter::port
