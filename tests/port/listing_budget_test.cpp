#include "port/listing_budget.h"

#include <gtest/gtest.h>

namespace starter::port {
namespace {

using std::chrono::milliseconds;

TEST(ListingBudget, EachListingGetsItsLimitOrWhatIsLeftOfTheTotalUntilOneRunsOut) {
  const ListingBudget::Clock::time_point start{std::chrono::seconds(1000)};
  ListingBudget budget(milliseconds(5000), milliseconds(10000));
  // The total runs from the first listing, not from the budget's making.
  EXPECT_EQ(budget.Left(start + milliseconds(60000)), milliseconds(5000));
  EXPECT_EQ(budget.Left(start + milliseconds(66200)), milliseconds(3800));
  EXPECT_EQ(budget.Left(start + milliseconds(70000)), milliseconds(0));
  ListingBudget held_up(milliseconds(5000), milliseconds(10000));
  EXPECT_EQ(held_up.Left(start), milliseconds(5000));
  held_up.RanOut();
  EXPECT_EQ(held_up.Left(start + milliseconds(5000)), milliseconds(0));
}

}  // namespace
}  // namespace starter::port
