#include "service/process_memory_win.h"

namespace starter::service {
namespace {

using QueryInformationFn = LONG(NTAPI*)(HANDLE process, ULONG information_class, PVOID record,
                                        ULONG size, PULONG returned_size);
using ReadVirtualMemory64Fn = LONG(NTAPI*)(HANDLE process, ULONG64 address, PVOID out,
                                           ULONG64 size, PULONG64 bytes_read);

constexpr ULONG kBasicInformationClass = 0;
constexpr LONG kSuccess = 0;

// Null when this system's ntdll lacks the function (wine, older Windows).
template <typename Function>
Function LookUpNtdll(const char* name) {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  if (!ntdll) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)));
}

}  // namespace

bool NativeMemoryReader::QueryBasicInformation(void* record, std::uint32_t size) {
  auto query = LookUpNtdll<QueryInformationFn>("NtQueryInformationProcess");
  return query && query(process_, kBasicInformationClass, record, size, nullptr) == kSuccess;
}

bool NativeMemoryReader::Read(std::uint64_t address, void* out, std::size_t size) {
  // Addresses on this path fit the starter's own pointers (the reader's caller sees to it).
  auto source = reinterpret_cast<LPCVOID>(static_cast<std::uintptr_t>(address));
  return ::ReadProcessMemory(process_, source, out, size, nullptr) != 0;
}

bool Wow64MemoryReader::QueryBasicInformation(void* record, std::uint32_t size) {
  auto query = LookUpNtdll<QueryInformationFn>("NtWow64QueryInformationProcess64");
  return query && query(process_, kBasicInformationClass, record, size, nullptr) == kSuccess;
}

bool Wow64MemoryReader::Read(std::uint64_t address, void* out, std::size_t size) {
  auto read = LookUpNtdll<ReadVirtualMemory64Fn>("NtWow64ReadVirtualMemory64");
  return read && read(process_, address, out, size, nullptr) == kSuccess;
}

}  // namespace starter::service
