#pragma once
// The statistics the benchmark reports, apart from any clock or system call.
#include <cstddef>
#include <vector>

namespace starter::bench {

struct Summary {
  double median = 0;
  double min = 0;
  double max = 0;
  double p95 = 0;  // nearest rank: the smallest sample that 95% of them do not exceed
  std::size_t count = 0;
};

// All zero for no samples.
Summary Summarize(std::vector<double> samples);

// measured[i] / floor[i] for each pair taken side by side; pairs with a
// floor of 0 are left out.
std::vector<double> PairRatios(const std::vector<double>& measured, const std::vector<double>& floor);

// Median of the pair ratios: a change of the machine's load between pairs
// cancels out.
double PairedRatio(const std::vector<double>& measured, const std::vector<double>& floor);

}  // namespace starter::bench
