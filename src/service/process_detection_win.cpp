#include "service/process_detection.h"

#include <windows.h>

#include <algorithm>

#include "platform/handles.h"
#include "platform/system_facts.h"
#include "service/command_line_reader.h"

namespace starter::service {

platform::Expected<ProcessLooks> MachineProcesses::LookAt(const std::vector<std::uint32_t>& ids) {
  ProcessLooks looks;
  if (ids.empty()) return looks;  // no walk of the list for nobody
  const platform::Expected<std::vector<platform::ProcessEntry>> processes = platform::ListProcesses();
  if (!processes.ok()) return processes.error();
  for (std::uint32_t id : ids) {
    const auto entry = std::find_if(processes->begin(), processes->end(),
                                    [id](const platform::ProcessEntry& process) { return process.id == id; });
    ProcessLook& look = looks[id];
    if (entry == processes->end()) {
      look.identity = Identify(std::nullopt, std::nullopt);
      continue;
    }
    look.image_name = entry->image_name;
    const bool worth_reading = IsServiceImage(entry->image_name);
    look.identity = Identify(entry->image_name, worth_reading ? GetProcessCommandLine(id) : std::nullopt);
  }
  return looks;
}

platform::Status ForEachServiceCandidate(const CandidateVisitor& visit) {
  const platform::Expected<std::vector<platform::ProcessEntry>> processes = platform::ListProcesses();
  if (!processes.ok()) return processes.error();
  for (const platform::ProcessEntry& process : *processes) {
    if (!IsServiceImage(process.image_name)) continue;
    const std::optional<std::wstring> command_line = GetProcessCommandLine(process.id);
    if (!visit(process.id, Identify(process.image_name, command_line), command_line.value_or(std::wstring()))) break;
  }
  return {};
}

platform::Expected<ServiceSearch> MachineProcesses::FindService() {
  ServiceSearch search = ServiceSearch::kNotFound;
  const platform::Status listed = ForEachServiceCandidate([&search](std::uint32_t, Identity identity, const std::wstring&) {
    if (identity == Identity::kService) search = ServiceSearch::kFound;
    if (identity == Identity::kCannotTell) search = ServiceSearch::kCannotTell;
    return search != ServiceSearch::kFound;  // one is enough
  });
  if (!listed.ok()) return listed.error();
  return search;
}

std::optional<std::uint64_t> ProcessStartTime(std::uint32_t process_id) {
  const platform::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return std::nullopt;
  return platform::CreationTimeOf(process.get());
}

}  // namespace starter::service
