#pragma once
// What the system reports of a file or folder the starter holds open, as
// plain values, so decisions about it are made and tested anywhere. The
// numbers are the system's own (FILE_ATTRIBUTE_*, IO_REPARSE_TAG_*).
#include <cstdint>

namespace starter::platform {

inline constexpr std::uint32_t kAttributeDirectory = 0x10;
// A link of some kind: a junction, a symbolic link, a mount point, or
// another filter's redirection.
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;

struct EntryFacts {
  std::uint32_t attributes = 0;
  std::uint32_t reparse_tag = 0;  // 0 unless the entry is a reparse point
  std::uint32_t link_count = 1;   // names the file has in the volume (hard links)
};

}  // namespace starter::platform
