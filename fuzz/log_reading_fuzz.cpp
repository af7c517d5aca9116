// The status report's reading of the starter's log and its JSON writer from
// raw bytes: a file's tail cut to whole lines, the completed runs of the
// current and the rotated file (the last one and the history), and every
// text the log gives written as a JSON string, which a strict reader must
// accept. What the reader keeps stays within its bounds whatever the log
// holds; scripts/fuzz.sh runs this target under a memory limit as well.
//
// Input: one byte of flags (bit 0: the current file's tail begins inside
// the file), two little-endian bytes giving the rotated file's length, the
// rotated file, then the current one.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/log_text.h"
#include "log/log_lines.h"
#include "require.h"
#include "status/json_text.h"
#include "status/run_history.h"
#include "status/report.h"

namespace {

using starter::fuzz::Require;

// The code point of the well-formed UTF-8 sequence at the front of `text`
// and its length, decoded without the writer's tables: a sequence is
// well-formed when it uses the fewest bytes for its value, which is no
// surrogate and at most U+10FFFF.
std::optional<std::pair<std::uint32_t, std::size_t>> Decode(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return std::pair<std::uint32_t, std::size_t>{lead, 1};
  std::size_t length = 0;
  std::uint32_t value = 0;
  if ((lead & 0xE0) == 0xC0) length = 2, value = lead & 0x1F;
  else if ((lead & 0xF0) == 0xE0) length = 3, value = lead & 0x0F;
  else if ((lead & 0xF8) == 0xF0) length = 4, value = lead & 0x07;
  else return std::nullopt;
  if (text.size() < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) != 0x80) return std::nullopt;
    value = (value << 6) | (byte & 0x3F);
  }
  constexpr std::uint32_t kFewest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kFewest[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return std::nullopt;
  return std::pair<std::uint32_t, std::size_t>{value, length};
}

bool IsUtf8(std::string_view text) {
  while (!text.empty()) {
    const auto sequence = Decode(text);
    if (!sequence) return false;
    text.remove_prefix(sequence->second);
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The text a JSON string stands for, read by the grammar of JSON; the rules
// abort on anything a strict reader would reject.
std::string ReadJsonString(std::string_view json) {
  Require(IsUtf8(json), "the JSON string is well-formed UTF-8");
  Require(json.size() >= 2 && json.front() == '"' && json.back() == '"', "the string is quoted");
  json = json.substr(1, json.size() - 2);
  std::string text;
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    Require(static_cast<unsigned char>(c) >= 0x20 && c != '"', "no bare control character or quote");
    if (c != '\\') {
      text += c;
      continue;
    }
    Require(++i < json.size(), "an escape is complete");
    const char escaped = json[i];
    if (escaped == 'u') {
      Require(i + 4 < json.size(), "a \\u escape has four digits");
      int value = 0;
      for (std::size_t k = 1; k <= 4; ++k) {
        const int digit = HexValue(json[i + k]);
        Require(digit >= 0, "a \\u escape has hex digits");
        value = value * 16 + digit;
      }
      Require(value < 0x20, "only control characters are written as \\u");
      text += static_cast<char>(value);
      i += 4;
      continue;
    }
    const std::string_view kEscapes = "\"\\/bfnrt";
    const std::string_view kMeanings = "\"\\/\b\f\n\r\t";
    const std::size_t which = kEscapes.find(escaped);
    Require(which != std::string_view::npos, "an escape JSON knows");
    text += kMeanings[which];
  }
  return text;
}

void CheckJson(std::string_view text) {
  const std::string read = ReadJsonString(starter::status::JsonString(text));
  if (IsUtf8(text)) Require(read == text, "well-formed text comes back unchanged");
  Require(IsUtf8(read), "ill-formed sequences are replaced");
}

void CheckEscaped(std::string_view text) {
  for (const char c : starter::log::EscapeControls(text))
    Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "the text report shows no control character");
}

void CheckTail(std::string_view tail) {
  const std::string_view whole = starter::status::WholeLinesOfTail(tail, false);
  Require(whole.size() <= tail.size() && tail.substr(tail.size() - whole.size()) == whole,
          "whole lines are the tail's end");
  const std::string_view dropped = tail.substr(0, tail.size() - whole.size());
  const std::size_t first_end = dropped.find("\r\n");
  Require(first_end == std::string_view::npos ? dropped == tail : first_end + 2 == dropped.size(),
          "exactly the first line is dropped");
}

void CheckBounds(const starter::status::StarterRun& run) {
  using starter::status::kKeptTextBytes;
  Require(run.arguments.size() <= starter::status::kKeptArguments, "only the arguments a caller passes are kept");
  for (const std::string& argument : run.arguments) Require(argument.size() <= kKeptTextBytes, "an argument is cut");
  for (const std::string* text : {&run.started, &run.status_line, &run.wait_ended, &run.time_limit_stage, &run.printed, &run.ended})
    Require(text->size() <= kKeptTextBytes, "a text of a run is cut");
}

void CheckHistory(std::string_view rotated, std::string_view current) {
  const std::vector<starter::status::StarterRun> runs =
      starter::status::LastCompletedRuns(rotated, current, starter::status::kDefaultHistoryRuns);
  Require(runs.size() <= starter::status::kDefaultHistoryRuns, "the history keeps only the runs asked for");
  for (const starter::status::StarterRun& run : runs) CheckBounds(run);
  const starter::status::HistorySummary summary = starter::status::Summarize(runs);
  std::size_t counted = 0;
  for (const std::size_t count : summary.counts) counted += count;
  Require(counted == runs.size(), "every run has one outcome");
  Require(summary.median_wait_ms <= summary.longest_wait_ms, "the median wait is no longer than the longest");
}

void CheckRun(std::string_view rotated, std::string_view current) {
  const std::vector<starter::status::StarterRun> last =
      starter::status::LastCompletedRuns(starter::status::NeedsRotatedFile(current) ? rotated : "", current, 1);
  if (last.empty()) return;
  const starter::status::StarterRun* run = &last.back();
  CheckBounds(*run);
  // Each file is read on its own: a rotated file cut inside a line does not
  // run on into the current one.
  bool started = false;
  for (const std::string_view file : {rotated, current}) {
    for (const starter::log::LogLine& line : starter::log::ParseLogLines(file)) {
      Require(line.message.find("\r\n") == std::string::npos, "a line holds no line end");
      started = started || (line.process_id == run->process_id &&
                           line.time.substr(0, starter::status::kKeptTextBytes) == run->started);
    }
  }
  Require(started, "the run has a start line");
  for (const std::string& argument : run->arguments) CheckJson(argument);
  CheckJson(run->status_line);
  CheckJson(run->wait_ended);
  CheckJson(run->time_limit_stage);
  CheckEscaped(run->status_line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const bool cut = (data[0] & 1) != 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 3, size - 3);
  const std::size_t rotated_size = std::min<std::size_t>(data[1] | (data[2] << 8), rest.size());
  const std::string_view rotated = rest.substr(0, rotated_size);
  std::string_view current = rest.substr(rotated_size);
  if (cut) {
    CheckTail(current);
    current = starter::status::WholeLinesOfTail(current, false);
  }
  CheckRun(rotated, current);
  CheckHistory(rotated, current);
  CheckJson(rest);
  CheckEscaped(rest);
  return 0;
}
