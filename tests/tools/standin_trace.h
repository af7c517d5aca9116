#pragma once
// A trace that a stand-in leaves of each run: when STANDIN_TRACE names a
// folder, a file named after the process id holding the program's own path.
// One file a run, so programs of one pipeline never write the same file.
#include <windows.h>

#include <string>

namespace starter::test {

inline void LeaveTrace() {
  wchar_t folder[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"STANDIN_TRACE", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  wchar_t program[MAX_PATH] = {};
  const DWORD program_length = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  const std::wstring file =
      std::wstring(folder) + L"\\" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
  HANDLE trace = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (trace == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(trace, program, program_length * sizeof(wchar_t), &written, nullptr);
  ::CloseHandle(trace);
}

}  // namespace starter::test
