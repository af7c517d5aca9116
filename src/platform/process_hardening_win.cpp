#include "platform/process_hardening.h"

namespace starter::platform {

HardeningCalls SystemHardeningCalls() {
  HardeningCalls calls;
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32) return calls;
  calls.set_default_dll_directories = reinterpret_cast<decltype(calls.set_default_dll_directories)>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  calls.set_process_mitigation_policy = reinterpret_cast<decltype(calls.set_process_mitigation_policy)>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetProcessMitigationPolicy")));
  return calls;
}

void HardenProcess(const HardeningCalls& calls) {
  if (calls.set_default_dll_directories) calls.set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (calls.set_process_mitigation_policy) {
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    policy.EnforceRedirectionTrust = 1;
    // A refusal (a system without the policy) leaves the process as it was.
    calls.set_process_mitigation_policy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy));
  }
}

}  // namespace starter::platform
