#pragma once
// Reads the command line of another process out of that process's memory:
// basic information -> environment block -> process parameters -> text. The
// memory access sits behind ProcessMemoryReader so the walk over the records
// can run against synthetic memory images as well as real processes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace starter::service {

class ProcessMemoryReader {
 public:
  virtual ~ProcessMemoryReader() = default;
  // Fills the basic-information record of `size` bytes; false when the query fails.
  virtual bool QueryBasicInformation(void* record, std::uint32_t size) = 0;
  // Copies exactly `size` bytes from `address` in the target; false unless all were copied.
  virtual bool Read(std::uint64_t address, void* out, std::size_t size) = 0;
};

// Pointer width of the environment block and process parameters being read.
enum class RecordLayout { kBits32, kBits64 };
// Native: the query and the reads of the starter's own width (24-byte basic
// record, addresses below 4 GiB). WOW64: the 64-bit query and reads (48-byte
// basic record, full 64-bit addresses).
enum class ReadPath { kNative, kWow64 };

// The records met on a read path. A 32-bit starter takes the WOW64 path only
// on 64-bit Windows, where every process has 64-bit records (WOW64 ones
// too); the native path means 32-bit Windows. Nothing else decides it: an
// x86 process on ARM64 Windows is told that the machine is x86, yet reads
// 64-bit records.
RecordLayout LayoutForReadPath(ReadPath path);

// UTF-16LE bytes up to the first NUL; without one, up to the last whole
// character (an odd byte count leaves the final byte out).
std::u16string Utf16UpToNul(const unsigned char* bytes, std::size_t size);

// The command line in UTF-16 units, up to its first NUL, or no result when
// any record or the text cannot be read completely.
std::optional<std::u16string> ReadProcessCommandLine(ProcessMemoryReader& reader,
                                                     RecordLayout layout, ReadPath path);

}  // namespace starter::service
