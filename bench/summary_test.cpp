#include "bench/summary.h"

#include <gtest/gtest.h>

#include <ostream>

namespace starter::bench {
namespace {

struct SummaryCase {
  const char* name;
  std::vector<double> samples;
  Summary expected;
  // Named by its name in the test list, not by its bytes, which hold addresses.
  friend void PrintTo(const SummaryCase& c, std::ostream* out) { *out << c.name; }
};

class SummarizeTest : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(SummarizeTest, MedianRangeAndNearestRankP95) {
  const Summary got = Summarize(GetParam().samples);
  const Summary& want = GetParam().expected;
  EXPECT_DOUBLE_EQ(got.median, want.median);
  EXPECT_DOUBLE_EQ(got.min, want.min);
  EXPECT_DOUBLE_EQ(got.max, want.max);
  EXPECT_DOUBLE_EQ(got.p95, want.p95);
  EXPECT_EQ(got.count, want.count);
}

std::vector<double> OneTo(int n) {
  std::vector<double> values;
  for (int i = n; i >= 1; --i) values.push_back(i);  // descending: the order must not matter
  return values;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SummarizeTest,
    ::testing::Values(SummaryCase{"none", {}, {0, 0, 0, 0, 0}},
                      SummaryCase{"one", {7}, {7, 7, 7, 7, 1}},
                      SummaryCase{"odd_unsorted", {5, 1, 3}, {3, 1, 5, 5, 3}},
                      SummaryCase{"even_takes_the_middle_pair", {4, 1, 3, 2}, {2.5, 1, 4, 4, 4}},
                      // 95% of 20 is exactly 19 samples; of 30 it is 28.5, so 29.
                      SummaryCase{"twenty", OneTo(20), {10.5, 1, 20, 19, 20}},
                      SummaryCase{"thirty", OneTo(30), {15.5, 1, 30, 29, 30}},
                      SummaryCase{"hundred", OneTo(100), {50.5, 1, 100, 95, 100}}),
    [](const ::testing::TestParamInfo<SummaryCase>& param) { return param.param.name; });

TEST(PairRatiosTest, PairsByPositionSkippingEmptyFloorsAndUnpairedSamples) {
  EXPECT_EQ(PairRatios({2, 9, 3, 8}, {1, 0, 2}), (std::vector<double>{2, 1.5}));
}

TEST(PairedRatioTest, IsTheMedianOfThePairsNotTheRatioOfTheMedians) {
  // The medians 5 and 3 would give 1.67; the pairs give 0.5, 5/9 and 3.
  EXPECT_DOUBLE_EQ(PairedRatio({1, 5, 9}, {2, 9, 3}), 5.0 / 9.0);
}

}  // namespace
}  // namespace starter::bench
