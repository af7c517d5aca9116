#pragma once
// The status report as a person reads it, and as one JSON object for tools.
// Both are UTF-8 and made from the same observations and verdict.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "status/observations.h"
#include "status/verdict.h"

namespace starter::status {

std::string FormatText(const Observations& seen, const Verdict& verdict);
std::string FormatJson(const Observations& seen, const Verdict& verdict);

// Where the report is written: standard output, or a scripted stand-in.
class ReportOutput {
 public:
  virtual ~ReportOutput() = default;
  // The console's text for `utf8`; nothing when the output is a file or a
  // pipe, which take the bytes themselves.
  virtual std::optional<std::wstring> ConsoleText(const std::string& utf8) = 0;
  // One write of the start of `text` to the console, or of `bytes` to the
  // file or pipe: how much it took, nothing when it failed.
  virtual std::optional<std::size_t> WriteConsole(std::wstring_view text) = 0;
  virtual std::optional<std::size_t> WriteBytes(std::string_view bytes) = 0;
};

// How much one write hands the console. Consoles before Windows 8 refuse a
// write larger than their 64 KB buffer, which a report holding long command
// lines exceeds.
inline constexpr std::size_t kConsoleWriteUnits = 8192;

// Writes all of `text`, a piece at a time, to the console or as bytes;
// false when a write fails or takes nothing. A piece never ends between the
// two halves of a surrogate pair.
bool WriteAll(const std::string& text, ReportOutput& output);

// What the program was asked for: the report or the history of the
// starter's runs, as text or as one JSON object.
struct ReportRequest {
  bool history = false;
  bool json = false;
};

// Writes what `request` asks for of `seen` and returns the exit code: the
// report's says its verdict, the history's whether the log was read. When
// formatting or writing throws, what was written is followed by the report
// of an unknown verdict that says what failed, and the exit code is
// unknown's: a crash would end with 3, which reads as "not running".
int WriteReport(const Observations& seen, const ReportRequest& request, ReportOutput& output);

// Called inside a catch block: the report of a looking that failed while it
// read `looking_at`, with `header`'s version and time.
Observations FailedLooking(const Observations& header, const char* looking_at);

// The version of the JSON objects' layout (docs/status-report.schema.json,
// docs/status-history.schema.json): members are only ever added; one that
// goes or changes its type comes with a new version.
inline constexpr std::uint64_t kSchemaVersion = 1;

// --history: the runs of `seen.history`, one line each, and a summary; or
// the unknown verdict when the looking did not end.
std::string FormatHistoryText(const Observations& seen);
std::string FormatHistoryJson(const Observations& seen);

// What a starter run with these arguments waited for: "no arguments",
// "--Dravel Brimvale", "--BrandleAgent Dravel", ... or "no mode".
std::string ModeOf(const std::vector<std::string>& arguments);

}  // namespace starter::status
