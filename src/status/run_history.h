#pragma once
// The starter's completed runs, read back from its log: lines from the start
// line to the end line of one process, which other starters' lines may
// interleave. Anyone who can run the starter can write its log, so what is
// kept of it is bounded whatever it holds.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contract/product_contract.h"

namespace starter::status {

// How much of the end of each log file is read. The starter rotates its log
// at contract::kMaxLogSize, so a few times that holds the last runs many times over;
// a log that could not be rotated keeps growing, and reading it whole would
// exhaust a 32-bit process.
inline constexpr std::uint64_t kLogTailBytes = 4 * contract::kMaxLogSize;

// The arguments kept of a run: a mode reads its first two, and every caller
// passes fewer than this. "param" lines beyond it are passed over, so a
// forged "param 32767->x" costs nothing.
inline constexpr std::size_t kKeptArguments = 8;
// The bytes kept of each text a run's lines give (an argument, the printed
// line, a wait's reason); the starter's own are a few dozen.
inline constexpr std::size_t kKeptTextBytes = 1024;
// Runs that started and have not ended yet, followed at once: starters that
// run side by side are a handful. When more start, the oldest is forgotten.
inline constexpr std::size_t kMaxOpenRuns = 64;
// The most runs --history lists, and how many it lists unless asked.
inline constexpr std::size_t kMaxHistoryRuns = 200;
inline constexpr std::size_t kDefaultHistoryRuns = 20;

struct StarterRun {
  std::uint32_t process_id = 0;
  std::string started;                 // the time of its start line
  std::vector<std::string> arguments;  // from its "param" lines, as the bytes it received
  std::string status_line;             // what it printed; empty when its mode prints nothing
  std::string wait_ended;              // the check a wait that ran out names ("port not LISTENING"...)
  std::string time_limit_stage;        // the stage its time limit ended it in; empty when it did not
  std::string printed;                 // the time of its OUTPUT-> line; empty when it printed nothing
  std::string ended;                   // the time of its end line
  std::string not_delivered;           // what failed when its line did not reach its caller; empty when it did
};

// The completed runs of the rotated file followed by the current one (each
// given as whole lines), in the order of their end lines, at most the last
// `keep` of them.
std::vector<StarterRun> LastCompletedRuns(std::string_view rotated, std::string_view current, std::size_t keep);

// Whether the last completed run needs the rotated file: the current one
// holds no complete run, or an end line whose start line it does not hold
// (a run that began before the rotation may have ended after another).
bool NeedsRotatedFile(std::string_view current);

// The bytes of a file's tail that hold whole lines: when the tail does not
// begin at the start of the file, its first line may be the end of a longer
// one (a line of megabytes) and is dropped, so that no part of a line is
// ever taken for a line of its own.
std::string_view WholeLinesOfTail(std::string_view tail, bool starts_the_file);

// How long the run's caller waited, in milliseconds: from its start line to
// the line it printed, or to its end line when it printed nothing. None when
// a time does not read as one or the clock went back.
std::optional<std::int64_t> WaitedMilliseconds(const StarterRun& run);

// What a run came to, as its history counts it.
enum class Outcome { kReady, kTimedOut, kTimeLimit, kNoOutput, kOtherOutput };
inline constexpr std::size_t kOutcomeCount = 5;
Outcome OutcomeOf(const StarterRun& run);
const char* NameOf(Outcome outcome);

struct HistorySummary {
  std::size_t counts[kOutcomeCount] = {};  // by Outcome
  std::optional<std::int64_t> median_wait_ms;  // of the runs whose wait reads; the lower middle of an even count
  std::optional<std::int64_t> longest_wait_ms;
};
HistorySummary Summarize(const std::vector<StarterRun>& runs);

}  // namespace starter::status
