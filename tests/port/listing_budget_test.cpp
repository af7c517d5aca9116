#include "port/listing_budget.h"

#include <gtest/gtest.h>

namespace starter::port {
namespace {

using std::chrono::milliseconds;

TEST(ListingBudget, RunsFromTheFirstListingAndLeavesNothingOnceSpent) {
  const ListingBudget::Clock::time_point start{std::chrono::seconds(1000)};
  ListingBudget budget(milliseconds(5000));
  EXPECT_EQ(budget.Left(start), milliseconds(5000));
  EXPECT_EQ(budget.Left(start + milliseconds(1200)), milliseconds(3800));
  EXPECT_EQ(budget.Left(start + milliseconds(4999)), milliseconds(1));
  EXPECT_EQ(budget.Left(start + milliseconds(5000)), milliseconds(0));
  EXPECT_EQ(budget.Left(start + milliseconds(9000)), milliseconds(0));
  // Time before the first listing costs nothing.
  ListingBudget later(milliseconds(5000));
  EXPECT_EQ(later.Left(start + milliseconds(9000)), milliseconds(5000));
}

}  // namespace
}  // namespace starter::port
