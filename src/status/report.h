#pragma once
// The status report as a person reads it, and as one JSON object for tools.
// Both are UTF-8 and made from the same observations and verdict.
#include <cstdint>
#include <string>

#include "status/observations.h"
#include "status/verdict.h"

namespace starter::status {

std::string FormatText(const Observations& seen, const Verdict& verdict);
std::string FormatJson(const Observations& seen, const Verdict& verdict);

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
