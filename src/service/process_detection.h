#pragma once
// Finding the Vantic service among the running processes. Nothing here logs:
// a failure shows only as an empty or false result.
#include <cstdint>
#include <optional>
#include <string>

namespace starter::service {

// The command line of another process, read from its memory; no result for
// process id 0 or when the process cannot be opened or read.
std::optional<std::wstring> GetProcessCommandLine(std::uint32_t process_id);

// Whether a Vantic service process runs; a filter of 0 accepts any process,
// any other value only the process with that id.
bool IsServiceProcessRunning(std::uint32_t process_id_filter);  // 0 = any process

}  // namespace starter::service
