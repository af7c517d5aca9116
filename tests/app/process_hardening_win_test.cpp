// What the program's entry turns on before anything else, given stand-ins
// for the two calls: wine's own SetProcessMitigationPolicy accepts every
// policy, so how the policy is asked for, and that a refusal or a missing
// call changes nothing else, is shown here.
#include "platform/process_hardening.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace starter::platform {
namespace {

struct Recorded {
  std::vector<std::string> calls;
  DWORD directory_flags = 0;
  int policy = -1;
  DWORD policy_flags = 0;
  SIZE_T record_size = 0;
};
Recorded g_recorded;

BOOL WINAPI SetDefaultDllDirectoriesStandIn(DWORD directory_flags) {
  g_recorded.calls.emplace_back("dll directories");
  g_recorded.directory_flags = directory_flags;
  return TRUE;
}

// Answers as a system without the policy does.
BOOL WINAPI RefusingMitigationStandIn(PROCESS_MITIGATION_POLICY policy, PVOID record, SIZE_T size) {
  g_recorded.calls.emplace_back("mitigation");
  g_recorded.policy = policy;
  g_recorded.policy_flags = *static_cast<const DWORD*>(record);
  g_recorded.record_size = size;
  ::SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

TEST(ProcessHardening, LibrariesFromTheSystemFolderAndRedirectionTrustWhereOffered) {
  g_recorded = {};
  HardenProcess({SetDefaultDllDirectoriesStandIn, RefusingMitigationStandIn});
  EXPECT_EQ(g_recorded.calls, (std::vector<std::string>{"dll directories", "mitigation"}));
  EXPECT_EQ(g_recorded.directory_flags, 0x800u);  // LOAD_LIBRARY_SEARCH_SYSTEM32 only
  EXPECT_EQ(g_recorded.policy, 16);               // ProcessRedirectionTrustPolicy
  EXPECT_EQ(g_recorded.policy_flags, 1u);         // EnforceRedirectionTrust, not only audit
  EXPECT_EQ(g_recorded.record_size, 4u);

  // Windows 7 without its loader update, and a system without the policy call.
  g_recorded = {};
  HardenProcess({nullptr, RefusingMitigationStandIn});
  EXPECT_EQ(g_recorded.calls, std::vector<std::string>{"mitigation"});
  g_recorded = {};
  HardenProcess({SetDefaultDllDirectoriesStandIn, nullptr});
  EXPECT_EQ(g_recorded.calls, std::vector<std::string>{"dll directories"});
}

TEST(ProcessHardening, BothCallsAreFoundInThisSystemsKernel32) {
  const HardeningCalls calls = SystemHardeningCalls();
  EXPECT_NE(calls.set_default_dll_directories, nullptr);
  EXPECT_NE(calls.set_process_mitigation_policy, nullptr);
}

}  // namespace
}  // namespace starter::platform
