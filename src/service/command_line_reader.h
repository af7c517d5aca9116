#pragma once
// The command line of another process, in the two ways a 32-bit starter has.
// Read out of that process's memory: basic information -> environment block
// -> process parameters -> text. Or asked of the system (information class
// 60, ProcessCommandLineInformation, Windows 8.1 and later): the query needs
// only PROCESS_QUERY_LIMITED_INFORMATION, which the system grants on
// processes of other accounts and of elevated ones, where reading their
// memory is refused. The answer fills the caller's own buffer: a counted
// string of the caller's width whose buffer points at the text behind it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/system_error.h"
#include "service/process_memory.h"

namespace starter::service {

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

}  // namespace starter::service
