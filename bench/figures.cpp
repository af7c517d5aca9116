#include "bench/figures.h"

#include <windows.h>

#include <cstdio>

namespace starter::bench {
namespace {

std::int64_t Frequency() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER value;
    ::QueryPerformanceFrequency(&value);
    return value.QuadPart;
  }();
  return frequency;
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

}  // namespace

std::int64_t NowTicks() {
  LARGE_INTEGER value;
  ::QueryPerformanceCounter(&value);
  return value.QuadPart;
}

double TicksToMs(std::int64_t ticks) {
  return static_cast<double>(ticks) * 1000.0 / static_cast<double>(Frequency());
}

void PrintFigure(const std::string& name, const std::vector<double>& samples, const char* unit) {
  const Summary s = Summarize(samples);
  std::printf("  %-44s median %8.3f %s (min %8.3f, max %8.3f, n=%zu)\n", name.c_str(), s.median, unit,
              s.min, s.max, s.count);
}

bool PrintRatio(const std::string& name, const std::vector<double>& measured,
                const std::vector<double>& floor, double limit) {
  const Summary range = Summarize(PairRatios(measured, floor));
  const Summary top = Summarize(measured);
  const Summary bottom = Summarize(floor);
  const bool met = range.median <= limit;
  std::printf("  %-44s ratio %.3f (min %.3f, max %.3f)  target <= %.2f: %s\n", name.c_str(), range.median,
              range.min, range.max, limit, Verdict(met));
  // On a busy machine the pairs spread widely; the fastest samples, least
  // touched by other load, then tell more.
  std::printf("  %-44s of medians %.3f, of minimums %.3f\n", "", top.median / bottom.median, top.min / bottom.min);
  return met;
}

void PrintCpuTime(double cpu_ms, double wait_ms) {
  std::printf("    %-42s %.0f ms (%.1f%% of the wait)\n", "CPU time over the wait", cpu_ms, 100 * cpu_ms / wait_ms);
}

bool PrintTarget(const std::string& name, double value, double limit, const char* unit) {
  const bool met = value <= limit;
  std::printf("  %-44s %.1f %s  target <= %.0f %s: %s\n", name.c_str(), value, unit, limit, unit,
              Verdict(met));
  return met;
}

bool PrintFloor(const std::string& name, double value, double floor, const char* unit) {
  const bool met = value >= floor;
  std::printf("  %-44s %.1f %s  target >= %.0f %s: %s\n", name.c_str(), value, unit, floor, unit, Verdict(met));
  return met;
}

}  // namespace starter::bench
