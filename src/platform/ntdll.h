#pragma once
// The ntdll functions the starter uses that are not imported: looked up once
// in the loaded ntdll.dll. A function this system's ntdll lacks (wine, older
// Windows) is null. The records they take are laid out here as the system
// lays them out, pinned for the 32-bit and the 64-bit layout.
#include <windows.h>

#include <cstdint>

namespace starter::platform {

struct NtUnicodeString {
  USHORT length;          // in bytes, without a terminator
  USHORT maximum_length;  // in bytes
  PWSTR buffer;
};

// OBJECT_ATTRIBUTES: a name, relative to `root_directory` when that is not null.
struct NtObjectAttributes {
  ULONG length;  // of this record
  HANDLE root_directory;
  NtUnicodeString* object_name;
  ULONG attributes;
  PVOID security_descriptor;
  PVOID security_quality_of_service;
};

struct NtIoStatusBlock {
  LONG status;  // with padding to a pointer's width on 64-bit
  ULONG_PTR information;
};

static_assert(sizeof(void*) != 4 || (sizeof(NtUnicodeString) == 8 && sizeof(NtObjectAttributes) == 24 &&
                                     sizeof(NtIoStatusBlock) == 8));
static_assert(sizeof(void*) != 8 || (sizeof(NtUnicodeString) == 16 && sizeof(NtObjectAttributes) == 48 &&
                                     sizeof(NtIoStatusBlock) == 16));

// NtQueryInformationProcess and its WOW64 form share one signature; only the
// record written differs.
using QueryInformationProcessFn = LONG(NTAPI*)(HANDLE process, ULONG information_class, PVOID record,
                                               ULONG size, PULONG returned_size);
using ReadVirtualMemory64Fn = LONG(NTAPI*)(HANDLE process, ULONG64 address, PVOID out, ULONG64 size,
                                           PULONG64 bytes_read);
using CreateFileFn = LONG(NTAPI*)(PHANDLE file, ACCESS_MASK access, NtObjectAttributes* attributes,
                                  NtIoStatusBlock* io, PLARGE_INTEGER allocation_size, ULONG file_attributes,
                                  ULONG share, ULONG disposition, ULONG options, PVOID ea, ULONG ea_length);
using SetInformationFileFn = LONG(NTAPI*)(HANDLE file, NtIoStatusBlock* io, PVOID record, ULONG size,
                                          ULONG information_class);

struct NtdllFunctions {
  QueryInformationProcessFn query_information_process = nullptr;
  QueryInformationProcessFn wow64_query_information_process64 = nullptr;
  ReadVirtualMemory64Fn wow64_read_virtual_memory64 = nullptr;
  CreateFileFn create_file = nullptr;
  SetInformationFileFn set_information_file = nullptr;
};

namespace ntdll_lookup {

template <typename Function>
Function LookUp(HMODULE ntdll, const char* name) noexcept {
  if (!ntdll) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)));
}

inline NtdllFunctions LookUpAll() noexcept {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  NtdllFunctions functions;
  functions.query_information_process = LookUp<QueryInformationProcessFn>(ntdll, "NtQueryInformationProcess");
  functions.wow64_query_information_process64 =
      LookUp<QueryInformationProcessFn>(ntdll, "NtWow64QueryInformationProcess64");
  functions.wow64_read_virtual_memory64 = LookUp<ReadVirtualMemory64Fn>(ntdll, "NtWow64ReadVirtualMemory64");
  functions.create_file = LookUp<CreateFileFn>(ntdll, "NtCreateFile");
  functions.set_information_file = LookUp<SetInformationFileFn>(ntdll, "NtSetInformationFile");
  return functions;
}

}  // namespace ntdll_lookup

// Looked up once, as the runtime starts, before main. A local static looked
// up on first use would start the threads library's once-object for its
// guard there, whose allocation winpthreads never checks: a machine out of
// memory at that moment crashed the program.
inline const NtdllFunctions kNtdllFunctions = ntdll_lookup::LookUpAll();
inline const NtdllFunctions& Ntdll() { return kNtdllFunctions; }

}  // namespace starter::platform
