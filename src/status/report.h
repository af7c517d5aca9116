#pragma once
// The status report as a person reads it, and as one JSON object for tools.
// Both are UTF-8 and made from the same observations and verdict.
#include <string>
#include <string_view>

#include "status/observations.h"
#include "status/verdict.h"

namespace starter::status {

std::string FormatText(const Observations& seen, const Verdict& verdict);
std::string FormatJson(const Observations& seen, const Verdict& verdict);

// `text` from outside as the text report shows it: carriage return, line
// feed and tab as \r, \n and \t, other C0 controls and DEL as \x01 and
// the like, so that no line of the report can be forged.
std::string Printable(std::string_view text);

// What a starter run with these arguments waited for: "no arguments",
// "--Dravel Brimvale", "--BrandleAgent Dravel", ... or "no mode".
std::string ModeOf(const std::vector<std::string>& arguments);

}  // namespace starter::status
