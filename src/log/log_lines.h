#pragma once
// Reading the diagnostic log back: each line is "[pid] [date time.ms] [level]
// message" followed by CR LF, the layout every starter writes. Several
// starters append to one file, so lines of different runs interleave, and a
// reader may meet a line that is still being written.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace starter::log {

struct LogLine {
  std::uint32_t process_id = 0;
  std::string time;  // "2026-12-08 10:00:00.123", local time as written
  std::string level;
  std::string message;  // without the line end; the end line's own line feed is dropped
};

// Every complete line of `text` in file order. A last line without its CR LF
// (a write in progress, or a file cut short) and lines that do not have the
// layout (an empty line, bytes of a torn write) are passed over.
std::vector<LogLine> ParseLogLines(std::string_view text);

// One line without its CR LF; none when it does not have the layout.
std::optional<LogLine> ParseLogLine(std::string_view text);

}  // namespace starter::log
