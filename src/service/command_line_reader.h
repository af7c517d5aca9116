#pragma once
// Reading another process's command line, the one fact that tells the
// service from any other java.exe, in the two ways a 32-bit starter has.
// Asked of the system (information class 60, ProcessCommandLineInformation,
// Windows 8.1 and later): the query needs only
// PROCESS_QUERY_LIMITED_INFORMATION, which the system grants on processes
// of other accounts and of elevated ones, where reading their memory is
// refused. Its answer fills the caller's own buffer: a counted string of the
// caller's width whose buffer points at the text behind it. Or read out of
// that process's memory, across bitness: basic information -> environment
// block -> process parameters -> text. A failure is written only at debug
// level, which a configured run drops: these reads run in every poll.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/system_error.h"

namespace starter::service {

// The process is read through an open handle in one of the two ways a
// 32-bit starter can: with its own width (NtQueryInformationProcess and
// ReadProcessMemory) on 32-bit Windows, or through the 64-bit functions of
// WOW64 on 64-bit Windows. The readers are interfaces, so the walk over the
// records and the handling of the answers run against synthetic ones as
// well as the system's.

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

// Pointer width of the environment block and process parameters being read.
enum class RecordLayout { kBits32, kBits64 };

// The records met on a read path. A 32-bit starter takes the WOW64 path only
// on 64-bit Windows, where every process has 64-bit records (WOW64 ones
// too); the native path means 32-bit Windows. Nothing else decides it: an
// x86 process on ARM64 Windows is told that the machine is x86, yet reads
// 64-bit records.
RecordLayout LayoutForReadPath(ReadPath path);

// UTF-16LE bytes up to the first NUL; without one, up to the last whole
// character (an odd byte count leaves the final byte out).
std::u16string Utf16UpToNul(const unsigned char* bytes, std::size_t size);

// The command line in UTF-16 units, up to its first NUL, or the failure of
// the query or read that kept a record or the text from being read completely.
platform::Expected<std::u16string> ReadProcessCommandLine(ProcessMemoryReader& reader, RecordLayout layout,
                                                          ReadPath path);

// The text of an answer that lies at `block`: its MaximumLength bytes up to
// their first NUL, as the memory read takes them; no result unless those
// bytes lie behind the head and inside the block.
std::optional<std::u16string> ParseCommandLineAnswer(const unsigned char* block, std::size_t size);

// Asks once, and once more with the size the system names when the first
// block was too small. No result when the system refuses, does not know the
// class (older Windows; wine) or gives a malformed answer.
std::optional<std::u16string> QueryCommandLine(CommandLineQuery& query);

// --- The machine (Windows) ---------------------------------------------------

// The command line of another process: asked of the system with the least
// right, or else read from the process's memory; no result for process id 0
// or when neither way gets it.
std::optional<std::wstring> GetProcessCommandLine(std::uint32_t process_id);

}  // namespace starter::service
