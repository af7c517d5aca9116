// Writing the report: the formats a request asks for, the console's pieces,
// and the unknown verdict when formatting or writing fails.
#include "status/report.h"

#include <algorithm>
#include <exception>
#include <type_traits>

#include "status/report_parts.h"

namespace starter::status {
namespace {

// Called inside a catch block: what escaped, in words.
std::string WhatEscaped() {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "an exception of unknown type";
  }
}

Observations Failed(const Observations& header, std::string what) {
  Observations failed;
  failed.version = header.version;
  failed.now = header.now;
  failed.failed = std::move(what);
  return failed;
}

// The text of what was asked for, and the exit code that goes with it:
// the report's says its verdict; the history's says whether the log was read.
struct Written {
  std::string text;
  int exit_code;
};

Written Formatted(const Observations& seen, const ReportRequest& request) {
  if (request.history) {
    const bool read = !Cut(seen) && !seen.log_unread && seen.log_refused.empty();
    return {request.json ? FormatHistoryJson(seen) : FormatHistoryText(seen),
            read ? 0 : ExitCodeOf(State::kUnknown)};
  }
  const Verdict verdict = JudgeState(seen);
  return {request.json ? FormatJson(seen, verdict) : FormatText(seen, verdict), ExitCodeOf(verdict.state)};
}

// Called inside a catch block: the report that writing `seen`'s failed,
// written as far as anything can still be written.
void WriteFailure(const Observations& seen, const ReportRequest& request, ReportOutput& output) noexcept {
  try {
    const Observations failed = Failed(seen, "the report failed while writing it: " + WhatEscaped());
    WriteAll(Formatted(failed, request).text, output);
  } catch (...) {
    // Nothing more can be written; the exit code still says unknown.
  }
}

// How much of `text` one write takes: a console is handed a piece its
// buffer holds, never the first half of a surrogate pair alone.
template <typename Char>
std::size_t PieceOf(std::basic_string_view<Char> text) {
  std::size_t size = std::min(text.size(), kConsoleWriteUnits);
  if constexpr (std::is_same_v<Char, wchar_t>) {
    const auto last = static_cast<std::uint32_t>(text[size - 1]);
    if (size < text.size() && size > 1 && last >= 0xD800 && last <= 0xDBFF) --size;
  }
  return size;
}

template <typename Char, typename WriteOnce>
bool WritePieces(std::basic_string_view<Char> text, WriteOnce write_once) {
  while (!text.empty()) {
    const std::size_t size = PieceOf(text);
    const std::optional<std::size_t> taken = write_once(text.substr(0, size));
    if (!taken || *taken == 0 || *taken > size) return false;
    text.remove_prefix(*taken);
  }
  return true;
}

}  // namespace

bool WriteAll(const std::string& text, ReportOutput& output) {
  const std::optional<std::wstring> console = output.ConsoleText(text);
  if (console) {
    return WritePieces(std::wstring_view(*console), [&output](std::wstring_view piece) { return output.WriteConsole(piece); });
  }
  return WritePieces(std::string_view(text), [&output](std::string_view piece) { return output.WriteBytes(piece); });
}

int WriteReport(const Observations& seen, const ReportRequest& request, ReportOutput& output) {
  try {
    const Written written = Formatted(seen, request);
    WriteAll(written.text, output);
    return written.exit_code;
  } catch (...) {
    WriteFailure(seen, request, output);
  }
  return ExitCodeOf(State::kUnknown);
}

Observations FailedLooking(const Observations& header, const char* looking_at) {
  return Failed(header, std::string("the report failed while reading ") + looking_at + ": " + WhatEscaped());
}

}  // namespace starter::status
