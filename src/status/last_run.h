#pragma once
// The starter's last completed run, read back from its log: lines from the
// start line to the end line of one process, which other starters' lines may
// interleave.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/log_lines.h"

namespace starter::status {

struct StarterRun {
  std::uint32_t process_id = 0;
  std::string started;                 // the time of its start line
  std::vector<std::string> arguments;  // from its "param" lines, as the bytes it received
  std::string status_line;             // what it printed; empty when its mode prints nothing
  std::string wait_ended;              // the check a wait that ran out names ("port not LISTENING"...)
};

// The run whose end line comes last among the runs that have one.
std::optional<StarterRun> LastCompletedRun(const std::vector<log::LogLine>& lines);

// The last completed run in the current log file, or, when it holds none (it
// was rotated during or after that run), in the rotated file followed by the
// current one: `rotated` is read only then.
std::optional<StarterRun> LastCompletedRunOf(std::string_view current, const std::function<std::string()>& read_rotated);

}  // namespace starter::status
