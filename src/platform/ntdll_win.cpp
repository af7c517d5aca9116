#include "platform/ntdll.h"

namespace starter::platform {
namespace {

template <typename Function>
Function LookUp(HMODULE ntdll, const char* name) {
  if (!ntdll) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)));
}

NtdllFunctions LookUpAll() {
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

}  // namespace

const NtdllFunctions& Ntdll() {
  static const NtdllFunctions functions = LookUpAll();
  return functions;
}

}  // namespace starter::platform
