#pragma once
// The rule by which a running Vantic service is recognised from outside: a
// process named exactly "java.exe" whose command line mentions "Vantic.jar".
// Both comparisons are case-sensitive, as the launch always spells them so.
#include <cstdint>
#include <string_view>

namespace starter::service {

// Whether a process-list entry is worth reading: its image name is "java.exe"
// and, unless `process_id_filter` is 0, its id is the one asked about.
bool IsServiceCandidate(std::wstring_view image_name, std::uint32_t process_id,
                        std::uint32_t process_id_filter);

// Whether the command line, up to its first NUL, contains "Vantic.jar" anywhere.
bool MentionsServiceJar(std::wstring_view command_line);

}  // namespace starter::service
