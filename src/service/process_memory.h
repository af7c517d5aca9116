#pragma once
// Reads another process through an open handle, in one of the two ways a
// 32-bit starter can: with its own width (NtQueryInformationProcess and
// ReadProcessMemory) on 32-bit Windows, or through the 64-bit functions of
// WOW64 on 64-bit Windows; and asks the system for its command line. The
// readers are interfaces, so the walk over the records and the handling of
// the answers run against synthetic ones as well as the system's.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/system_error.h"

namespace starter::service {

// Native: the query and the reads of the starter's own width (24-byte basic
// record, addresses below 4 GiB). WOW64: the 64-bit query and reads (48-byte
// basic record, full 64-bit addresses).
enum class ReadPath { kNative, kWow64 };

class ProcessMemoryReader {
 public:
  virtual ~ProcessMemoryReader() = default;
  // Fills the basic-information record of `size` bytes; what failed when the query did.
  virtual platform::Status QueryBasicInformation(void* record, std::uint32_t size) = 0;
  // Copies exactly `size` bytes from `address` in the target; what failed unless all were copied.
  virtual platform::Status Read(std::uint64_t address, void* out, std::size_t size) = 0;
};

// The command-line query (information class 60) on one opened process.
class CommandLineQuery {
 public:
  virtual ~CommandLineQuery() = default;
  // Fills `block` of `size` bytes and returns the NTSTATUS; `needed` receives
  // the size the system reports, after a too-small answer the size it wants.
  virtual std::uint32_t Query(unsigned char* block, std::uint32_t size, std::uint32_t& needed) = 0;
};

// Over the open process handle `process` (a HANDLE), which must outlive them.
// The query goes through NtQueryInformationProcess of the starter's own
// width: under WOW64 the system hands the 64-bit answer over in 32-bit form,
// so one call serves 32-bit and 64-bit targets alike.
std::unique_ptr<ProcessMemoryReader> ProcessMemoryOf(void* process, ReadPath path);
std::unique_ptr<CommandLineQuery> CommandLineQueryOf(void* process);

}  // namespace starter::service
