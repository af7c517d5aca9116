// What the program's entry turns on, given stand-ins for the two calls:
// wine's SetProcessMitigationPolicy accepts every policy, so the policy asked
// for, and that a refusal or a missing call changes nothing else, show here.
#include "platform/process_hardening.h"

#include <gtest/gtest.h>

#include <string>

namespace starter::platform {
namespace {

std::string g_calls;

BOOL WINAPI SetDefaultDllDirectoriesStandIn(DWORD directory_flags) {
  g_calls += "dll directories " + std::to_string(directory_flags) + ";";
  return TRUE;
}

// Answers as a system without the policy does.
BOOL WINAPI RefusingMitigationStandIn(PROCESS_MITIGATION_POLICY policy, PVOID record, SIZE_T size) {
  g_calls += "policy " + std::to_string(policy) + " flags " + std::to_string(*static_cast<const DWORD*>(record)) +
             " size " + std::to_string(size) + ";";
  ::SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

TEST(ProcessHardening, SystemFolderForLibrariesAndRedirectionTrustWhereOffered) {
  struct Case {
    HardeningCalls calls;
    const char* expected;
  };
  const Case cases[] = {
      // LOAD_LIBRARY_SEARCH_SYSTEM32; ProcessRedirectionTrustPolicy, enforced rather than audited
      {{SetDefaultDllDirectoriesStandIn, RefusingMitigationStandIn}, "dll directories 2048;policy 16 flags 1 size 4;"},
      {{nullptr, RefusingMitigationStandIn}, "policy 16 flags 1 size 4;"},  // Windows 7 without its update
      {{SetDefaultDllDirectoriesStandIn, nullptr}, "dll directories 2048;"},
  };
  for (const Case& c : cases) {
    g_calls.clear();
    HardenProcess(c.calls);
    EXPECT_EQ(g_calls, c.expected);
  }
  const HardeningCalls found = SystemHardeningCalls();
  EXPECT_TRUE(found.set_default_dll_directories && found.set_process_mitigation_policy);
}

}  // namespace
}  // namespace starter::platform
