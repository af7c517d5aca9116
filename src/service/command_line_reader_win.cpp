#include "service/command_line_reader.h"

#include <windows.h>

#include "platform/system_facts.h"
#include "platform/ntdll.h"

namespace starter::service {
namespace {

using platform::Status;

constexpr ULONG kBasicInformationClass = 0;
constexpr ULONG kCommandLineInformationClass = 60;

// What an ntdll call answered: nothing on success (0), else its NTSTATUS; a
// function this system lacks answers STATUS_PROCEDURE_NOT_FOUND.
Status NtOutcome(const char* call, LONG status) {
  if (status == 0) return {};
  return platform::NtStatusError(call, status);
}

class ProcessHandleReader final : public ProcessMemoryReader {
 public:
  ProcessHandleReader(HANDLE process, ReadPath path) : process_(process), path_(path) {}
  Status QueryBasicInformation(void* record, std::uint32_t size) override;
  Status Read(std::uint64_t address, void* out, std::size_t size) override;

 private:
  HANDLE process_;
  ReadPath path_;
};

class ProcessCommandLineQuery final : public CommandLineQuery {
 public:
  explicit ProcessCommandLineQuery(HANDLE process) : process_(process) {}
  std::uint32_t Query(unsigned char* block, std::uint32_t size, std::uint32_t& needed) override;

 private:
  HANDLE process_;
};

Status ProcessHandleReader::QueryBasicInformation(void* record, std::uint32_t size) {
  const platform::NtdllFunctions& ntdll = platform::Ntdll();
  const bool wow64 = path_ == ReadPath::kWow64;
  const auto query = wow64 ? ntdll.wow64_query_information_process64 : ntdll.query_information_process;
  return NtOutcome(wow64 ? "NtWow64QueryInformationProcess64" : "NtQueryInformationProcess",
                   query ? query(process_, kBasicInformationClass, record, size, nullptr)
                         : platform::kStatusProcedureNotFound);
}

std::uint32_t ProcessCommandLineQuery::Query(unsigned char* block, std::uint32_t size, std::uint32_t& needed) {
  const auto query = platform::Ntdll().query_information_process;
  if (!query) return static_cast<std::uint32_t>(platform::kStatusProcedureNotFound);
  ULONG returned = 0;
  const LONG status = query(process_, kCommandLineInformationClass, block, size, &returned);
  needed = returned;
  return static_cast<std::uint32_t>(status);
}

Status ProcessHandleReader::Read(std::uint64_t address, void* out, std::size_t size) {
  if (path_ == ReadPath::kWow64) {
    const auto read = platform::Ntdll().wow64_read_virtual_memory64;
    return NtOutcome("NtWow64ReadVirtualMemory64",
                     read ? read(process_, address, out, size, nullptr) : platform::kStatusProcedureNotFound);
  }
  // Native addresses fit the starter's own pointers: ReadProcessCommandLine
  // refuses larger ones on this path before they get here. The pointer names
  // memory of the target and is only handed to the system, never dereferenced.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  auto source = reinterpret_cast<LPCVOID>(static_cast<std::uintptr_t>(address));
  if (!::ReadProcessMemory(process_, source, out, size, nullptr)) return platform::LastError("ReadProcessMemory");
  return {};
}

}  // namespace

std::unique_ptr<ProcessMemoryReader> ProcessMemoryOf(void* process, ReadPath path) {
  return std::make_unique<ProcessHandleReader>(process, path);
}

std::unique_ptr<CommandLineQuery> CommandLineQueryOf(void* process) {
  return std::make_unique<ProcessCommandLineQuery>(process);
}

}  // namespace starter::service
