#pragma once
// The ntdll functions the starter uses that are not imported: looked up once
// in the loaded ntdll.dll. A function this system's ntdll lacks (wine, older
// Windows) is null.
#include "platform/win.h"

namespace starter::platform {

// NtQueryInformationProcess and its WOW64 form share one signature; only the
// record written differs.
using QueryInformationProcessFn = LONG(NTAPI*)(HANDLE process, ULONG information_class, PVOID record,
                                               ULONG size, PULONG returned_size);
using ReadVirtualMemory64Fn = LONG(NTAPI*)(HANDLE process, ULONG64 address, PVOID out, ULONG64 size,
                                           PULONG64 bytes_read);

struct NtdllFunctions {
  QueryInformationProcessFn query_information_process = nullptr;
  QueryInformationProcessFn wow64_query_information_process64 = nullptr;
  ReadVirtualMemory64Fn wow64_read_virtual_memory64 = nullptr;
};

// Looked up on the first call, shared by every later one.
const NtdllFunctions& Ntdll();

// What a call answers when this system's ntdll lacks the function.
inline constexpr LONG kStatusProcedureNotFound = static_cast<LONG>(0xC000007A);

}  // namespace starter::platform
