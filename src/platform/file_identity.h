#pragma once
// Which file stands at a name, and when it was last written: enough to tell a
// file seen earlier from another put in its place, and from the same file
// written since.
#include <cstdint>
#include <string>

#include "platform/system_error.h"

namespace starter::platform {

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
