#include "service/command_line_reader.h"

#include <cstring>
#include <limits>
#include <vector>

#include "service/process_records.h"

namespace starter::service {
namespace {

using platform::Expected;
using platform::Status;

// What the native path answers for an address it cannot name: the system's
// ERROR_INVALID_ADDRESS.
constexpr platform::SystemError kAddressAbove4GiB{"ReadProcessMemory", 487};

// Applies the one limit of the native path: a 32-bit reader cannot name an
// address above 4 GiB, and cutting it down would read some other memory.
class PathReader {
 public:
  PathReader(ProcessMemoryReader& reader, ReadPath path) : reader_(reader), path_(path) {}

  Status Read(std::uint64_t address, void* out, std::size_t size) {
    if (path_ == ReadPath::kNative && address > std::numeric_limits<std::uint32_t>::max())
      return kAddressAbove4GiB;
    return reader_.Read(address, out, size);
  }

 private:
  ProcessMemoryReader& reader_;
  ReadPath path_;
};

template <class Traits>
Expected<std::uint64_t> QueryPebAddress(ProcessMemoryReader& reader) {
  BasicInformation<Traits> record{};
  if (const Status queried = reader.QueryBasicInformation(&record, sizeof(record)); !queried.ok())
    return queried.error();
  return std::uint64_t{record.peb_address};
}

// Copies `bytes` from the start of a record into a zeroed scratch copy and
// decodes the typed head from it.
template <class Record>
Status ReadHead(PathReader& memory, std::uint64_t address, std::size_t bytes, Record& record) {
  std::vector<unsigned char> scratch(bytes, 0);
  if (const Status read = memory.Read(address, scratch.data(), scratch.size()); !read.ok()) return read;
  std::memcpy(&record, scratch.data(), sizeof(record));
  return {};
}

template <class Traits>
Expected<std::u16string> ReadFromPeb(PathReader& memory, std::uint64_t peb_address) {
  PebHead<Traits> peb{};
  if (const Status read = ReadHead(memory, peb_address, kPebHeadBytes<Traits>, peb); !read.ok()) return read.error();
  ProcessParametersHead<Traits> parameters{};
  if (const Status read = ReadHead(memory, peb.process_parameters, kParametersHeadBytes<Traits>, parameters);
      !read.ok())
    return read.error();

  const CountedWideString<Traits>& command_line = parameters.command_line;
  // No buffer at all is an empty command line, not a failed read: every
  // record on the way was read, and there is nothing left to copy.
  if (command_line.maximum_length == 0) return std::u16string();
  std::vector<unsigned char> buffer(command_line.maximum_length, 0);
  if (const Status read = memory.Read(command_line.buffer, buffer.data(), buffer.size()); !read.ok())
    return read.error();
  // The buffer is MaximumLength bytes; the text is what precedes its first NUL.
  return Utf16UpToNul(buffer.data(), buffer.size());
}


// A Java command line naming the jar takes a few hundred bytes: most answers
// fit the first block.
constexpr std::uint32_t kFirstBlockBytes = 1024;
// The counted string holds at most 65,535 bytes: a larger size asked for is
// no answer to this query.
constexpr std::uint32_t kLargestBlockBytes = 0x10000 + 64;

bool WantsLargerBlock(std::uint32_t status) {
  return status == platform::kStatusBufferOverflow || status == platform::kStatusInfoLengthMismatch ||
         status == platform::kStatusBufferTooSmall;
}

}  // namespace

std::u16string Utf16UpToNul(const unsigned char* bytes, std::size_t size) {
  std::u16string text;
  for (std::size_t at = 0; at + 1 < size; at += 2) {
    auto unit = static_cast<char16_t>(bytes[at] | (bytes[at + 1] << 8));
    if (unit == u'\0') break;
    text += unit;
  }
  return text;
}

RecordLayout LayoutForReadPath(ReadPath path) {
  return path == ReadPath::kWow64 ? RecordLayout::kBits64 : RecordLayout::kBits32;
}

Expected<std::u16string> ReadProcessCommandLine(ProcessMemoryReader& reader, RecordLayout layout,
                                                ReadPath path) {
  // The basic record follows the read path; the records it leads to follow the layout.
  Expected<std::uint64_t> peb_address =
      path == ReadPath::kNative ? QueryPebAddress<Traits32>(reader) : QueryPebAddress<Traits64>(reader);
  if (!peb_address.ok()) return peb_address.error();
  PathReader memory(reader, path);
  return layout == RecordLayout::kBits32 ? ReadFromPeb<Traits32>(memory, *peb_address)
                                         : ReadFromPeb<Traits64>(memory, *peb_address);
}

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
    if (status == platform::kStatusSuccess) return ParseCommandLineAnswer(block, size);
    if (!WantsLargerBlock(status) || needed <= size || needed > kLargestBlockBytes) return std::nullopt;
    size = needed;
  }
  return std::nullopt;
}

}  // namespace starter::service
