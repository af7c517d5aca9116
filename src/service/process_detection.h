#pragma once
// Finding the Vantic service among the running processes. A failure shows as
// an empty or false result; why is written only at debug level, which a
// configured run drops: these checks run in every poll.
#include <cstdint>
#include <optional>
#include <string>

namespace starter::service {

// The command line of another process: asked of the system with the least
// right, or else read from the process's memory; no result for process id 0
// or when neither way gets it.
std::optional<std::wstring> GetProcessCommandLine(std::uint32_t process_id);

// Whether a Vantic service process runs; a filter of 0 accepts any process,
// any other value only the process with that id.
bool IsServiceProcessRunning(std::uint32_t process_id_filter);  // 0 = any process

}  // namespace starter::service
