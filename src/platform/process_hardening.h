#pragma once
// What is turned on for the whole process before it loads a library at run
// time or opens a file:
// - libraries come from the system folder only: one that a system DLL loads
//   by name during the run is never looked for beside the program, in the
//   current folder or on PATH, where another account may have put a file of
//   that name;
// - where the system offers it (Windows 11, Windows 10 22H2), redirection
//   trust: junctions made by accounts that are not administrators are not
//   followed.
// Both calls are looked up at run time: Windows 7 without its loader update
// (KB2533623) lacks the first, and a system that lacks the second refuses it.
// Either is then left as the system has it; nothing else depends on them.
#include <windows.h>

namespace starter::platform {

// The two calls, as found in this system's kernel32 (null when missing).
struct HardeningCalls {
  BOOL(WINAPI* set_default_dll_directories)(DWORD directory_flags) = nullptr;
  BOOL(WINAPI* set_process_mitigation_policy)(PROCESS_MITIGATION_POLICY policy, PVOID record, SIZE_T size) = nullptr;
};

HardeningCalls SystemHardeningCalls();

// Runs before the C runtime is set up: uses kernel32 and nothing else.
void HardenProcess(const HardeningCalls& calls);

}  // namespace starter::platform
