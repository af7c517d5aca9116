#pragma once
// Finding the Vantic service among the running processes, and reading the
// command line that tells it apart. A failure shows as an empty or false
// result; why is written only at debug level, which a configured run drops:
// these checks run in every poll.
//
// The command line of another process comes in the two ways a 32-bit starter
// has. Read out of that process's memory: basic information -> environment
// block -> process parameters -> text. Or asked of the system (information
// class 60, ProcessCommandLineInformation, Windows 8.1 and later): the query
// needs only PROCESS_QUERY_LIMITED_INFORMATION, which the system grants on
// processes of other accounts and of elevated ones, where reading their
// memory is refused. The answer fills the caller's own buffer: a counted
// string of the caller's width whose buffer points at the text behind it.
#include <cstddef>
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

// The command line of another process: asked of the system with the least
// right, or else read from the process's memory; no result for process id 0
// or when neither way gets it.
std::optional<std::wstring> GetProcessCommandLine(std::uint32_t process_id);

// What one look at a process found: its identity, and its image name as the
// process list gives it (empty when it is not listed).
struct ProcessLook {
  Identity identity = Identity::kCannotTell;
  std::wstring image_name;
};

// Looks at each process of `ids` with one walk of the process list, reading
// the command line of a java.exe only. Every id is answered; a list that
// cannot be had answers none of them: that is no look at all, not a look
// that could not tell.
platform::Expected<std::map<std::uint32_t, ProcessLook>> LookAtProcesses(const std::vector<std::uint32_t>& ids);

// What one walk of the process list says of a running Vantic service. A
// list that cannot be had says nothing: that is the Expected's failure.
enum class ServiceSearch {
  kFound,       // a java.exe whose command line names the jar
  kNotFound,    // every java.exe was examined, and none names it
  kCannotTell,  // none is known to be the service, but a java.exe could not be examined
};
platform::Expected<ServiceSearch> FindServiceProcess();

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

// --- Reading another process's command line ----------------------------------

// The process is read through an open handle in one of the two ways a
// 32-bit starter can: with its own width (NtQueryInformationProcess and
// ReadProcessMemory) on 32-bit Windows, or through the 64-bit functions of
// WOW64 on 64-bit Windows. The readers are interfaces, so the walk over the
// records and the handling of the answers run against synthetic ones as
// well as the system's.

// Native: the query and the reads of the starter's own width (24-byte basic
// record, addresses below 4 GiB). WOW64: the 64-bit query and reads (48-byte
// basic record, full 64-bit addresses).
enum class ReadPath { kNative, kWow64 };

class ProcessMemoryReader {
 public:
  virtual ~ProcessMemoryReader() = default;
  // Fills the basic-information record of `size` bytes; what failed when the query did.
  virtual platform::Status QueryBasicInformation(void* record, std::uint32_t size) = 0;
  // Copies exactly `size` bytes from `address` in the target; what failed unless all were copied.
  virtual platform::Status Read(std::uint64_t address, void* out, std::size_t size) = 0;
};

// The command-line query (information class 60) on one opened process.
class CommandLineQuery {
 public:
  virtual ~CommandLineQuery() = default;
  // Fills `block` of `size` bytes and returns the NTSTATUS; `needed` receives
  // the size the system reports, after a too-small answer the size it wants.
  virtual std::uint32_t Query(unsigned char* block, std::uint32_t size, std::uint32_t& needed) = 0;
};

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
