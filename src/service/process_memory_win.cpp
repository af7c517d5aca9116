#include "service/process_memory.h"

namespace starter::service {
namespace {

// The native and the WOW64 query share one signature; only the record differs.
using QueryInformationFn = LONG(NTAPI*)(HANDLE process, ULONG information_class, PVOID record,
                                        ULONG size, PULONG returned_size);
using ReadVirtualMemory64Fn = LONG(NTAPI*)(HANDLE process, ULONG64 address, PVOID out,
                                           ULONG64 size, PULONG64 bytes_read);

constexpr ULONG kBasicInformationClass = 0;
constexpr ULONG kCommandLineInformationClass = 60;
constexpr LONG kSuccess = 0;
// What a call answers when this system's ntdll lacks the function.
constexpr std::uint32_t kStatusProcedureNotFound = 0xC000007A;

// Null when this system's ntdll lacks the function (wine, older Windows).
template <typename Function>
Function LookUpNtdll(const char* name) {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  if (!ntdll) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)));
}

}  // namespace

bool ProcessHandleReader::QueryBasicInformation(void* record, std::uint32_t size) {
  auto query = LookUpNtdll<QueryInformationFn>(path_ == ReadPath::kWow64 ? "NtWow64QueryInformationProcess64"
                                                                        : "NtQueryInformationProcess");
  return query && query(process_, kBasicInformationClass, record, size, nullptr) == kSuccess;
}

std::uint32_t ProcessCommandLineQuery::Query(unsigned char* block, std::uint32_t size,
                                             std::uint32_t& needed) {
  auto query = LookUpNtdll<QueryInformationFn>("NtQueryInformationProcess");
  if (!query) return kStatusProcedureNotFound;
  ULONG returned = 0;
  const LONG status = query(process_, kCommandLineInformationClass, block, size, &returned);
  needed = returned;
  return static_cast<std::uint32_t>(status);
}

bool ProcessHandleReader::Read(std::uint64_t address, void* out, std::size_t size) {
  if (path_ == ReadPath::kWow64) {
    auto read = LookUpNtdll<ReadVirtualMemory64Fn>("NtWow64ReadVirtualMemory64");
    return read && read(process_, address, out, size, nullptr) == kSuccess;
  }
  // Native addresses fit the starter's own pointers: ReadProcessCommandLine
  // refuses larger ones on this path before they get here. The pointer names
  // memory of the target and is only handed to the system, never dereferenced.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  auto source = reinterpret_cast<LPCVOID>(static_cast<std::uintptr_t>(address));
  return ::ReadProcessMemory(process_, source, out, size, nullptr) != 0;
}

}  // namespace starter::service
