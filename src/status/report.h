#pragma once
// The status report as a person reads it, and as one JSON object for tools.
// Both are UTF-8 and made from the same observations and verdict.
#include <string>

#include "status/observations.h"
#include "status/verdict.h"

namespace starter::status {

std::string FormatText(const Observations& seen, const Verdict& verdict);
std::string FormatJson(const Observations& seen, const Verdict& verdict);


// What a starter run with these arguments waited for: "no arguments",
// "--Dravel Brimvale", "--BrandleAgent Dravel", ... or "no mode".
std::string ModeOf(const std::vector<std::string>& arguments);

}  // namespace starter::status
