#pragma once
// What a process holds, sampled from outside or from itself, in ways that
// also work under wine (whose GetProcessHandleCount answers 0 and whose
// memory counters leave the private bytes at 0).
#include <windows.h>

#include <cstdint>

namespace starter::bench {

struct Usage {
  std::uint32_t handles = 0;
  std::uint64_t private_bytes = 0;     // committed private memory
  std::uint64_t peak_working_set = 0;  // bytes
};

// `process` needs PROCESS_QUERY_INFORMATION and PROCESS_VM_READ.
Usage SampleUsage(HANDLE process, DWORD process_id);

}  // namespace starter::bench
