#include "port/listing_budget.h"

#include <gtest/gtest.h>

namespace starter::port {
namespace {

using std::chrono::milliseconds;

TEST(ListingBudget, EachListingGetsItsLimitOrWhatIsLeftOfTheTotal) {
  const ListingBudget::Clock::time_point start{std::chrono::seconds(1000)};
  ListingBudget budget(milliseconds(5000), milliseconds(10000));
  EXPECT_EQ(budget.Left(start), milliseconds(5000));
  EXPECT_EQ(budget.Left(start + milliseconds(4000)), milliseconds(5000));
  EXPECT_EQ(budget.Left(start + milliseconds(6200)), milliseconds(3800));
  EXPECT_EQ(budget.Left(start + milliseconds(9999)), milliseconds(1));
  EXPECT_EQ(budget.Left(start + milliseconds(10000)), milliseconds(0));
  EXPECT_EQ(budget.Left(start + milliseconds(60000)), milliseconds(0));
  // The total runs from the first listing, not from the budget's making.
  ListingBudget later(milliseconds(5000), milliseconds(10000));
  EXPECT_EQ(later.Left(start + milliseconds(60000)), milliseconds(5000));
  EXPECT_EQ(later.Left(start + milliseconds(68000)), milliseconds(2000));
}

}  // namespace
}  // namespace starter::port
