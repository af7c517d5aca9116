#include "service/process_detection.h"

#include <windows.h>

#include "log/diag_log.h"
#include "platform/handles.h"
#include "platform/system_facts.h"
#include "service/command_line_reader.h"

namespace starter::service {
namespace {

// Reading memory needs more than the query: the system refuses these rights
// on processes of other accounts and of higher integrity.
constexpr DWORD kQueryAndReadAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x0410

std::optional<std::u16string> QueryCommandLineWithLeastRight(std::uint32_t process_id) {
  platform::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return std::nullopt;
  return QueryCommandLine(*CommandLineQueryOf(process.get()));
}

platform::Expected<std::u16string> ReadCommandLineFromMemory(std::uint32_t process_id) {
  platform::UniqueHandle process(::OpenProcess(kQueryAndReadAccess, FALSE, process_id));
  if (!process) return platform::LastError("OpenProcess");
  ReadPath path = platform::RunsUnderWow64() ? ReadPath::kWow64 : ReadPath::kNative;
  return ReadProcessCommandLine(*ProcessMemoryOf(process.get(), path), LayoutForReadPath(path), path);
}

}  // namespace

std::optional<std::wstring> GetProcessCommandLine(std::uint32_t process_id) {
  if (process_id == 0) return std::nullopt;
  std::optional<std::u16string> text = QueryCommandLineWithLeastRight(process_id);
  // Refused, unknown to this system (wine; Windows before 8.1) or malformed.
  if (!text) {
    platform::Expected<std::u16string> read = ReadCommandLineFromMemory(process_id);
    // Debug only: a java.exe of another account is unreadable in every poll.
    if (!read.ok()) log::Debug("command line of process {} not read: {}", process_id, Describe(read.error()));
    else text = std::move(*read);
  }
  if (!text) return std::nullopt;
  return std::wstring(text->begin(), text->end());  // wchar_t is a UTF-16 unit here
}

platform::Status ForEachServiceProcess(std::uint32_t process_id_filter, const ServiceVisitor& visit) {
  const platform::Expected<std::vector<platform::ProcessEntry>> processes = platform::ListProcesses();
  if (!processes.ok()) return processes.error();
  for (const platform::ProcessEntry& process : *processes) {
    if (!IsServiceCandidate(process.image_name, process.id, process_id_filter)) continue;
    // An entry that cannot be read is passed over: without a filter a later
    // java.exe may still be the service.
    std::optional<std::wstring> command_line = GetProcessCommandLine(process.id);
    if (command_line && MentionsServiceJar(*command_line) && !visit(process.id, *command_line)) break;
  }
  return {};
}

bool IsServiceProcessRunning(std::uint32_t process_id_filter) {
  bool found = false;
  const platform::Status listed = ForEachServiceProcess(process_id_filter, [&found](std::uint32_t, const std::wstring&) {
    found = true;
    return false;  // one is enough
  });
  if (!listed.ok()) log::Debug("{}", Describe(listed.error()));
  return found;
}

std::optional<std::uint64_t> ProcessStartTime(std::uint32_t process_id) {
  const platform::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return std::nullopt;
  return platform::CreationTimeOf(process.get());
}

}  // namespace starter::service
