#pragma once
// What the system reports of a file or folder, as plain values, so decisions
// about it are made and tested anywhere. The numbers are the system's own
// (FILE_ATTRIBUTE_*, IO_REPARSE_TAG_*).
#include <cstdint>
#include <string>

#include "platform/system_error.h"

namespace starter::platform {

// What a file or folder the starter holds open is: its attributes, whether
// it is a link, how many names it has.
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
// A link of some kind: a junction, a symbolic link, a mount point, or
// another filter's redirection.
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;

struct EntryFacts {
  std::uint32_t attributes = 0;
  std::uint32_t reparse_tag = 0;  // 0 unless the entry is a reparse point
  std::uint32_t link_count = 1;   // names the file has in the volume (hard links)
};

// Which file stands at a name, and when it was last written: enough to tell a
// file seen earlier from another put in its place, and from the same file
// written since.
struct FileIdentity {
  std::uint32_t volume = 0;      // volume serial number
  std::uint64_t index = 0;       // file index on that volume
  std::uint64_t last_write = 0;  // FILETIME, 100 ns since 1601 (UTC)
};

// The identity of what stands at `path` itself: a link planted there is not
// followed, and a folder answers as well as a file. Reading it opens no data
// and needs no sharing, so it never stands in the way of a writer.
Expected<FileIdentity> ReadFileIdentity(const std::wstring& path);

}  // namespace starter::platform
