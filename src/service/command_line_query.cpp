#include "service/command_line_query.h"

#include <cstring>
#include <vector>

#include "service/command_line_reader.h"
#include "service/process_records.h"

namespace starter::service {
namespace {

constexpr std::uint32_t kStatusSuccess = 0;
// The three ways the system says that a block was too small.
constexpr std::uint32_t kStatusBufferOverflow = 0x80000005;
constexpr std::uint32_t kStatusInfoLengthMismatch = 0xC0000004;
constexpr std::uint32_t kStatusBufferTooSmall = 0xC0000023;

// A Java command line naming the jar takes a few hundred bytes: most answers
// fit the first block.
constexpr std::uint32_t kFirstBlockBytes = 1024;
// The counted string holds at most 65,535 bytes: a larger size asked for is
// no answer to this query.
constexpr std::uint32_t kLargestBlockBytes = 0x10000 + 64;

bool WantsLargerBlock(std::uint32_t status) {
  return status == kStatusBufferOverflow || status == kStatusInfoLengthMismatch ||
         status == kStatusBufferTooSmall;
}

}  // namespace

std::optional<std::u16string> ParseCommandLineAnswer(const unsigned char* block, std::size_t size) {
  CommandLineAnswerHead head{};
  if (size < sizeof(head)) return std::nullopt;
  std::memcpy(&head, block, sizeof(head));
  // The rule of the memory read, so that both ways judge a process alike:
  // the system copies MaximumLength bytes of the buffer, and the text is
  // what precedes their first NUL, whatever Length says. No buffer at all is
  // an empty command line, not a malformed answer.
  if (head.maximum_length == 0) return std::u16string();
  // The buffer is an address in this process; it must point behind the head
  // and leave room for MaximumLength bytes before the block ends.
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  if (head.buffer < start + sizeof(head)) return std::nullopt;
  const std::uint64_t offset = head.buffer - start;
  if (offset > size || size - offset < head.maximum_length) return std::nullopt;
  return Utf16UpToNul(block + offset, head.maximum_length);
}

std::optional<std::u16string> QueryCommandLine(CommandLineQuery& query) {
  std::uint32_t size = kFirstBlockBytes;
  for (int ask = 0; ask < 2; ++ask) {
    // Whole 8-byte words: the system writes a pointer at the block's start.
    std::vector<std::uint64_t> words((size + 7) / 8, 0);
    auto* block = reinterpret_cast<unsigned char*>(words.data());
    std::uint32_t needed = 0;
    const std::uint32_t status = query.Query(block, size, needed);
    if (status == kStatusSuccess) return ParseCommandLineAnswer(block, size);
    if (!WantsLargerBlock(status) || needed <= size || needed > kLargestBlockBytes) return std::nullopt;
    size = needed;
  }
  return std::nullopt;
}

}  // namespace starter::service
