#pragma once
// Recognising the Vantic service among the running processes, and the one
// seam through which the starter looks at them (Processes): the machine's
// in the programs, scripted in the tests. How another process's command
// line is read is command_line_reader.h's.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system_error.h"

namespace starter::service {

// The rule by which a running Vantic service is recognised from outside: a
// process named exactly "java.exe" whose command line mentions "Vantic.jar".
// Both comparisons are case-sensitive, as the launch always spells them so.

// What a look at one process tells of it, with no more right than the one
// looking has. Another account's java.exe, or one a security product guards,
// refuses to have its command line read: that is "cannot tell", never "no".
enum class Identity {
  kService,       // java.exe, and its command line names the jar
  kOtherProgram,  // known not to be: another image, or a java.exe whose command line lacks the jar
  kCannotTell,    // a listed java.exe whose command line cannot be read
  kEnded,         // no longer in the process list
};

// Whether a process-list entry is worth reading: its image name is "java.exe".
bool IsServiceImage(std::wstring_view image_name);

// Whether the command line, up to its first NUL, contains "Vantic.jar" anywhere.
bool MentionsServiceJar(std::wstring_view command_line);

// The rule over what a look saw: the image name the process list gives (none
// when the process is not listed) and the command line (none when it could
// not be read; only a java.exe's is ever asked for).
Identity Identify(std::optional<std::wstring_view> image_name, const std::optional<std::wstring>& command_line);

// What one look at a process found: its identity, and its image name as the
// process list gives it (empty when it is not listed).
struct ProcessLook {
  Identity identity = Identity::kCannotTell;
  std::wstring image_name;
};

// The looks at several processes, by process id.
using ProcessLooks = std::map<std::uint32_t, ProcessLook>;

// What one walk of the process list says of a running Vantic service.
enum class ServiceSearch {
  kFound,       // a java.exe whose command line names the jar
  kNotFound,    // every java.exe was examined, and none names it
  kCannotTell,  // none is known to be the service, but a java.exe could not be examined
};

// The running processes, as the starter looks at them: each question is one
// walk of the process list. A list that cannot be had answers no question:
// that is the Expected's failure, no look at all, never a look that could
// not tell.
class Processes {
 public:
  virtual ~Processes() = default;
  // Looks at each process of `ids`; every id is answered.
  virtual platform::Expected<ProcessLooks> LookAt(const std::vector<std::uint32_t>& ids) = 0;
  // Whether a Vantic service runs.
  virtual platform::Expected<ServiceSearch> FindService() = 0;
};

// --- The machine (Windows) ---------------------------------------------------

// The machine's processes, reading the command line of a java.exe only.
// Failures to read one are written at debug level only: these looks run in
// every poll.
class MachineProcesses final : public Processes {
 public:
  platform::Expected<ProcessLooks> LookAt(const std::vector<std::uint32_t>& ids) override;
  platform::Expected<ServiceSearch> FindService() override;
};

// Called with the id, identity and command line (empty unless read) of each
// java.exe; walks on while it returns true.
using CandidateVisitor =
    std::function<bool(std::uint32_t process_id, Identity identity, const std::wstring& command_line)>;
// Visits every java.exe of the process list; what failed when the list
// cannot be had.
platform::Status ForEachServiceCandidate(const CandidateVisitor& visit);

// When the process started (100 ns units since 1601), asked with the least
// right; none when it cannot be opened or has ended.
std::optional<std::uint64_t> ProcessStartTime(std::uint32_t process_id);

}  // namespace starter::service
