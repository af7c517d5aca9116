#include "bench/stage_times.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <regex>

#include "bench/figures.h"
#include "contract/product_contract.h"
#include "support/win_test_env.h"

namespace starter::bench {
namespace {

constexpr std::size_t kLabelLength = 30;

struct Line {
  std::uint32_t process_id;
  double ms;
  std::string message;
};

std::vector<Line> ReadLogLines() {
  static const std::regex layout(
      R"(\[(\d+)\] \[\d{4}-\d\d-\d\d (\d\d):(\d\d):(\d\d)\.(\d{3})\] \[[a-z]+\] (.*))");
  std::vector<Line> lines;
  const std::string text = test::ReadFileBytes(contract::kLogFile);
  for (std::size_t start = 0, end; start < text.size(); start = end + 2) {
    end = std::min(text.find("\r\n", start), text.size());
    const std::string raw = text.substr(start, end - start);
    std::smatch match;
    if (!std::regex_match(raw, match, layout)) continue;
    const double ms = ((std::stod(match[2]) * 60 + std::stod(match[3])) * 60 + std::stod(match[4])) * 1000 +
                      std::stod(match[5]);
    lines.push_back({static_cast<std::uint32_t>(std::stoul(match[1])), ms, match[6]});
  }
  return lines;
}

// Process ids come back: a line belongs to a run when its process id matches
// and its time falls within the run (stamps are whole ms, cut down).
bool Belongs(const Line& line, const RunWindow& run) {
  return line.process_id == run.process_id && line.ms >= run.started_ms - 1 && line.ms <= run.ended_ms;
}

struct StageTime {
  std::string until;  // the first words of the log line that ends the stage
  double ms = 0;
};

std::vector<StageTime> Stages(const RunWindow& run, const std::vector<Line>& lines) {
  std::vector<StageTime> stages;
  double previous = run.started_ms;
  for (const Line& line : lines) {
    if (!Belongs(line, run)) continue;
    stages.push_back({line.message.substr(0, kLabelLength), line.ms - previous});
    previous = line.ms;
  }
  stages.push_back({"(output ended)", run.ended_ms - previous});
  return stages;
}

}  // namespace

double LocalClockMs() {
  FILETIME now{}, local{};
  ::GetSystemTimePreciseAsFileTime(&now);
  ::FileTimeToLocalFileTime(&now, &local);
  const auto ticks = (static_cast<std::uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
  constexpr std::uint64_t kTicksPerDay = 864000000000ull;  // 100 ns ticks
  return static_cast<double>(ticks % kTicksPerDay) / 10000.0;
}

std::vector<double> LineTimes(const std::vector<RunWindow>& runs, const std::string& prefix) {
  const std::vector<Line> lines = ReadLogLines();
  std::vector<double> times;
  for (const RunWindow& run : runs) {
    auto found = std::find_if(lines.begin(), lines.end(), [&](const Line& line) {
      return Belongs(line, run) && line.message.compare(0, prefix.size(), prefix) == 0;
    });
    times.push_back(found == lines.end() ? -1 : found->ms);
  }
  return times;
}

void PrintStages(const std::vector<RunWindow>& runs) {
  const std::vector<Line> lines = ReadLogLines();
  std::vector<std::vector<StageTime>> stages;
  for (const RunWindow& run : runs) stages.push_back(Stages(run, lines));
  if (stages.empty()) return;
  std::printf("  where a run's time goes (median of %zu runs; log stamps are whole ms):\n", stages.size());
  for (std::size_t i = 0; i < stages.front().size(); ++i) {
    std::vector<double> samples;
    for (const auto& run : stages)
      if (i < run.size() && run[i].until == stages.front()[i].until) samples.push_back(run[i].ms);
    std::printf("    until %-36s %7.1f ms\n", ("\"" + stages.front()[i].until + "\"").c_str(),
                Summarize(samples).median);
  }
}

}  // namespace starter::bench
