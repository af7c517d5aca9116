#include "service/command_line_reader.h"

#include <windows.h>

#include "log/diag_log.h"
#include "platform/handles.h"
#include "platform/ntdll.h"
#include "platform/system_facts.h"

namespace starter::service {
namespace {

using platform::Status;

constexpr ULONG kBasicInformationClass = 0;
constexpr ULONG kCommandLineInformationClass = 60;

// What an ntdll call answered: nothing on success, else its NTSTATUS.
Status NtOutcome(const char* call, LONG status) {
  const auto code = static_cast<std::uint32_t>(status);
  if (code == platform::kStatusSuccess) return {};
  return platform::NtStatusError(call, code);
}

// The answer given for a function this system's ntdll lacks.
constexpr LONG kProcedureNotFound = static_cast<LONG>(platform::kStatusProcedureNotFound);

// The readers over an open process handle, which must outlive them. The
// command-line query goes through NtQueryInformationProcess of the starter's
// own width: under WOW64 the system hands the 64-bit answer over in 32-bit
// form, so one call serves 32-bit and 64-bit targets alike.
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
                   query ? query(process_, kBasicInformationClass, record, size, nullptr) : kProcedureNotFound);
}

std::uint32_t ProcessCommandLineQuery::Query(unsigned char* block, std::uint32_t size, std::uint32_t& needed) {
  const auto query = platform::Ntdll().query_information_process;
  if (!query) return platform::kStatusProcedureNotFound;
  ULONG returned = 0;
  const LONG status = query(process_, kCommandLineInformationClass, block, size, &returned);
  needed = returned;
  return static_cast<std::uint32_t>(status);
}

Status ProcessHandleReader::Read(std::uint64_t address, void* out, std::size_t size) {
  if (path_ == ReadPath::kWow64) {
    const auto read = platform::Ntdll().wow64_read_virtual_memory64;
    return NtOutcome("NtWow64ReadVirtualMemory64",
                     read ? read(process_, address, out, size, nullptr) : kProcedureNotFound);
  }
  // Native addresses fit the starter's own pointers: ReadProcessCommandLine
  // refuses larger ones on this path before they get here. The pointer names
  // memory of the target and is only handed to the system, never dereferenced.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  auto source = reinterpret_cast<LPCVOID>(static_cast<std::uintptr_t>(address));
  return STARTER_CALL(ReadProcessMemory, process_, source, out, size, nullptr);
}

// Reading memory needs more than the query: the system refuses these rights
// on processes of other accounts and of higher integrity.
constexpr DWORD kQueryAndReadAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x0410

std::optional<std::u16string> QueryCommandLineWithLeastRight(std::uint32_t process_id) {
  platform::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return std::nullopt;
  ProcessCommandLineQuery query(process.get());
  return QueryCommandLine(query);
}

platform::Expected<std::u16string> ReadCommandLineFromMemory(std::uint32_t process_id) {
  const platform::Expected<platform::UniqueHandle> process =
      STARTER_OPEN(platform::UniqueHandle, OpenProcess, kQueryAndReadAccess, FALSE, process_id);
  if (!process.ok()) return process.error();
  ReadPath path = platform::RunsUnderWow64() ? ReadPath::kWow64 : ReadPath::kNative;
  ProcessHandleReader reader(process->get(), path);
  return ReadProcessCommandLine(reader, LayoutForReadPath(path), path);
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

}  // namespace starter::service
