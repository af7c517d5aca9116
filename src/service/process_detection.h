#pragma once
// Finding the Vantic service among the running processes. A failure shows as
// an empty or false result; why is written only at debug level, which a
// configured run drops: these checks run in every poll.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/system_error.h"

namespace starter::service {

// The rule by which a running Vantic service is recognised from outside: a
// process named exactly "java.exe" whose command line mentions "Vantic.jar".
// Both comparisons are case-sensitive, as the launch always spells them so.

// Whether a process-list entry is worth reading: its image name is "java.exe"
// and, unless `process_id_filter` is 0, its id is the one asked about.
bool IsServiceCandidate(std::wstring_view image_name, std::uint32_t process_id,
                        std::uint32_t process_id_filter);

// Whether the command line, up to its first NUL, contains "Vantic.jar" anywhere.
bool MentionsServiceJar(std::wstring_view command_line);

// The command line of another process: asked of the system with the least
// right, or else read from the process's memory; no result for process id 0
// or when neither way gets it.
std::optional<std::wstring> GetProcessCommandLine(std::uint32_t process_id);

// Whether a Vantic service process runs; a filter of 0 accepts any process,
// any other value only the process with that id.
bool IsServiceProcessRunning(std::uint32_t process_id_filter);  // 0 = any process

// Called with the id and command line of each Vantic service process; walks
// on while it returns true.
using ServiceVisitor = std::function<bool(std::uint32_t process_id, const std::wstring& command_line)>;
// Visits the Vantic service processes (only the one with the id, unless the
// filter is 0); what failed when the process list cannot be had.
platform::Status ForEachServiceProcess(std::uint32_t process_id_filter, const ServiceVisitor& visit);

// When the process started (100 ns units since 1601), asked with the least
// right; none when it cannot be opened or has ended.
std::optional<std::uint64_t> ProcessStartTime(std::uint32_t process_id);

}  // namespace starter::service
