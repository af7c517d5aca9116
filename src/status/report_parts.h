#pragma once
// The pieces the status report's files share: the text's field, its verdict
// line and the cut report's test (report_text.cpp). For the report's own
// files, not for its callers (report.h).
#include <optional>
#include <string>

#include "status/observations.h"
#include "status/verdict.h"

namespace starter::status {

std::string Utf8(const std::wstring& text);
std::string Field(const std::string& name, const std::string& value);
std::optional<std::string> OwnerImage(const port::PortListener& listener, const Observations& seen);
bool Cut(const Observations& seen);
std::string VerdictText(const Verdict& verdict);

}  // namespace starter::status
