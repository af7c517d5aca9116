#pragma once
// Reads the command line of another process out of that process's memory:
// basic information -> environment block -> process parameters -> text.
#include <cstddef>
#include <cstdint>
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

}  // namespace starter::service
