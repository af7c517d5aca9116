#pragma once
// Where a starter run spends its time, read from its own log: every line
// carries its process id and a millisecond time stamp in local time.
#include <cstdint>
#include <string>
#include <vector>

namespace starter::bench {

// Milliseconds since local midnight, on the clock of the log's time stamps.
double LocalClockMs();

// One run of the starter: its process and when it started and its output
// ended, both on LocalClockMs().
struct RunWindow {
  std::uint32_t process_id = 0;
  double started_ms = 0;
  double ended_ms = 0;
};

// For each run, the time (LocalClockMs()) of its first log line that starts
// with `prefix`, or a negative number when it logged none.
std::vector<double> LineTimes(const std::vector<RunWindow>& runs, const std::string& prefix);

// Prints the median of each stage of the runs: from the start of a run to
// its first log line, between consecutive lines, and from the last line to
// the end of its output. The runs are expected to log the same lines.
void PrintStages(const std::vector<RunWindow>& runs);

}  // namespace starter::bench
