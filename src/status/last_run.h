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
#include "contract/product_contract.h"

namespace starter::status {

// How much of the end of each log file is read. The starter rotates its log
// at contract::kMaxLogSize, so a few times that holds the last runs many times over;
// a log that could not be rotated keeps growing, and reading it whole would
// exhaust a 32-bit process.
inline constexpr std::uint64_t kLogTailBytes = 4 * contract::kMaxLogSize;

// The highest argument index a "param" line may name. A command line holds
// at most 32767 characters, so no starter ever logs more arguments than
// that; a larger index is a forged line.
inline constexpr std::size_t kMaxArgumentIndex = 32767;

struct StarterRun {
  std::uint32_t process_id = 0;
  std::string started;                 // the time of its start line
  std::vector<std::string> arguments;  // from its "param" lines, as the bytes it received
  std::string status_line;             // what it printed; empty when its mode prints nothing
  std::string wait_ended;              // the check a wait that ran out names ("port not LISTENING"...)
};

// The run whose end line comes last among the runs that have one.
std::optional<StarterRun> LastCompletedRun(const std::vector<log::LogLine>& lines);

// The last completed run in the current log file, or in the rotated file
// followed by the current one when the current one holds no complete run or
// an end line whose start line it does not hold (a run that began before
// the rotation may have ended after another): `rotated` is read only then.
std::optional<StarterRun> LastCompletedRunOf(std::string_view current, const std::function<std::string()>& read_rotated);

// The bytes of a file's tail that hold whole lines: when the tail does not
// begin at the start of the file, its first line may be the end of a longer
// one (a line of megabytes) and is dropped, so that no part of a line is
// ever taken for a line of its own.
std::string_view WholeLinesOfTail(std::string_view tail, bool starts_the_file);

}  // namespace starter::status
