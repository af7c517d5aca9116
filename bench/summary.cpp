#include "bench/summary.h"

#include <algorithm>

namespace starter::bench {

Summary Summarize(std::vector<double> samples) {
  Summary summary;
  summary.count = samples.size();
  if (samples.empty()) return summary;
  std::sort(samples.begin(), samples.end());
  const std::size_t n = samples.size();
  summary.min = samples.front();
  summary.max = samples.back();
  summary.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  const std::size_t rank = (95 * n + 99) / 100;  // ceil(0.95 n), at least 1 for n >= 1
  summary.p95 = samples[rank - 1];
  return summary;
}

std::vector<double> PairRatios(const std::vector<double>& measured, const std::vector<double>& floor) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < std::min(measured.size(), floor.size()); ++i)
    if (floor[i] > 0) ratios.push_back(measured[i] / floor[i]);
  return ratios;
}

double PairedRatio(const std::vector<double>& measured, const std::vector<double>& floor) {
  return Summarize(PairRatios(measured, floor)).median;
}

}  // namespace starter::bench
