#include "port/listing_budget.h"

#include <algorithm>

namespace starter::port {

std::chrono::milliseconds ListingBudget::Left(Clock::time_point now) {
  if (ran_out_) return std::chrono::milliseconds::zero();
  if (!end_) end_ = now + total_;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*end_ - now);
  return std::clamp(left, std::chrono::milliseconds::zero(), each_);
}

}  // namespace starter::port
