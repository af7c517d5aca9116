#pragma once
// Timing and the way the benchmark reports what it measured: every figure as
// the median of repeated samples with their range, every ratio from samples
// taken side by side in the same run.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bench/summary.h"

namespace starter::bench {

// Milliseconds on the performance counter, which every process of the machine
// shares, so a stamp written by one process compares with another's.
std::int64_t NowTicks();
double TicksToMs(std::int64_t ticks);

// Milliseconds that `step` takes.
template <typename Step>
double TimeMs(Step&& step) {
  const std::int64_t start = NowTicks();
  step();
  return TicksToMs(NowTicks() - start);
}

// "name: median 12.3 ms (min 11.0, max 15.2, n=20)"
void PrintFigure(const std::string& name, const std::vector<double>& samples, const char* unit = "ms");

// The paired ratio with its range (and, for reference, the ratios of the
// medians and of the minimums), and whether it stays within `limit`. True when met.
bool PrintRatio(const std::string& name, const std::vector<double>& measured,
                const std::vector<double>& floor, double limit);

// Takes one sample of each of two measurements, the first going first in even
// rounds and last in odd ones, so a drift of the machine's load falls on both.
template <typename First, typename Second>
std::pair<double, double> SideBySide(int round, First&& first, Second&& second) {
  if (round % 2) {
    const double later = second();
    return {first(), later};
  }
  const double earlier = first();
  return {earlier, second()};
}

// "CPU time over the wait: 123 ms (4.5% of the wait)"
void PrintCpuTime(double cpu_ms, double wait_ms);

// One line stating a target and whether it was met.
bool PrintTarget(const std::string& name, double value, double limit, const char* unit);
// The same for a value that must not fall below `floor`.
bool PrintFloor(const std::string& name, double value, double floor, const char* unit);

}  // namespace starter::bench
