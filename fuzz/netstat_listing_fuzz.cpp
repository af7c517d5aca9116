// The availability check's text path from raw bytes: the command's output is
// collected through the 500-byte piece reader, as from the pipe, and the
// collected text is judged for one port.
//
// Input: the port as two little-endian bytes, then the command's output.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "port/command_output.h"
#include "port/netstat_listing.h"
#include "require.h"

namespace {

using starter::fuzz::Require;
using starter::port::ListingVerdict;

constexpr std::size_t kRejudgedSize = 512;

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Reads `bytes` through a memory stream. Full pieces stop at their first NUL,
// so only text without NULs comes through whole; the short last piece always
// keeps its bytes.
std::string CollectOutput(std::string bytes) {
  const std::string kept = "kept|";
  std::string output = kept;
  std::FILE* stream = fmemopen(bytes.data(), bytes.size(), "r");
  if (stream == nullptr) return bytes;  // no memory stream for this size: judge the bytes as they are
  Require(starter::port::AppendStreamOutput(stream, output).ok(), "a memory stream reads without error");
  std::fclose(stream);

  Require(output.compare(0, kept.size(), kept) == 0, "earlier output stays in front");
  output.erase(0, kept.size());
  Require(output.size() <= bytes.size(), "nothing is added");
  Require(EndsWith(output, std::string_view(bytes).substr(bytes.size() - bytes.size() % 500)),
          "the short last piece is appended whole");
  if (std::memchr(bytes.data(), '\0', bytes.size()) == nullptr)
    Require(output == bytes, "text without NUL arrives unchanged");
  return output;
}

bool Same(const ListingVerdict& a, const ListingVerdict& b) {
  return a.ask == b.ask && a.owner_id == b.owner_id;
}

std::string WithCrLf(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

void CheckVerdict(const std::string& listing, int port) {
  const ListingVerdict verdict = starter::port::JudgeListing(listing, port);
  Require(!verdict.owner_id || verdict.ask == ListingVerdict::Ask::kOwner,
          "only a listening row names an owner");
  if (listing.find(":" + std::to_string(port)) == std::string::npos)
    Require(verdict.ask == ListingVerdict::Ask::kNothing, "rows of other ports have no say");
  // Judging a changed copy triples the work: short listings carry the row
  // logic, long ones are there for the piece reader.
  if (listing.size() > kRejudgedSize) return;
  Require(Same(starter::port::JudgeListing(WithCrLf(listing), port), verdict),
          "carriage returns before line ends change nothing");
  Require(Same(starter::port::JudgeListing(listing + "\n" + listing, port), verdict),
          "repeating the rows changes nothing");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int port = data[0] | (data[1] << 8);
  CheckVerdict(CollectOutput(std::string(reinterpret_cast<const char*>(data) + 2, size - 2)), port);
  return 0;
}
