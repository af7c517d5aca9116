#include "bench/process_usage.h"

#include <psapi.h>

#include <algorithm>
#include <vector>

namespace starter::bench {
namespace {

// The system's handle table (information class 16), the one handle count
// wine keeps per process.
struct HandleEntry {
  USHORT process_id;
  USHORT creator_back_trace_index;
  UCHAR object_type_index;
  UCHAR attributes;
  USHORT value;
  PVOID object;
  ULONG granted_access;
};
using QuerySystemFn = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);

std::uint32_t HandlesInSystemTable(DWORD process_id) {
  auto query = reinterpret_cast<QuerySystemFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  std::vector<unsigned char> table(1 << 16);
  LONG status = kLengthMismatch;
  for (ULONG needed = 0; status == kLengthMismatch && table.size() <= (1u << 26);) {
    status = query(kSystemHandleInformation, table.data(), static_cast<ULONG>(table.size()), &needed);
    if (status == kLengthMismatch) table.resize(std::max<std::size_t>(table.size() * 2, needed));
  }
  if (status != 0) return 0;
  const auto count = *reinterpret_cast<const ULONG*>(table.data());
  const auto* entries = reinterpret_cast<const HandleEntry*>(table.data() + sizeof(ULONG_PTR));
  std::uint32_t held = 0;
  for (ULONG i = 0; i < count; ++i) held += entries[i].process_id == static_cast<USHORT>(process_id);
  return held;
}

std::uint64_t CommittedPrivateBytes(HANDLE process) {
  std::uint64_t total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (std::uintptr_t address = 0;
       ::VirtualQueryEx(process, reinterpret_cast<void*>(address), &region, sizeof(region)) ==
       sizeof(region);) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    const std::uintptr_t next = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
    if (next <= address) break;  // the top of the address space
    address = next;
  }
  return total;
}

}  // namespace

Usage SampleUsage(HANDLE process, DWORD process_id) {
  Usage usage;
  DWORD handles = 0;
  usage.handles = ::GetProcessHandleCount(process, &handles) && handles ? handles
                                                                        : HandlesInSystemTable(process_id);
  usage.private_bytes = CommittedPrivateBytes(process);
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof(memory);
  if (::GetProcessMemoryInfo(process, &memory, sizeof(memory)))
    usage.peak_working_set = memory.PeakWorkingSetSize;
  return usage;
}

}  // namespace starter::bench
