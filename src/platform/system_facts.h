#pragma once
// Small answers of the system that several subsystems ask for, asked one
// way: the folders of the installation, the processes running, WOW64, times
// and ANSI text.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handles.h"
#include "platform/system_error.h"

namespace starter::platform {

// The folders of the Windows installation, as the system reports them. Each
// answer is the folder without a trailing backslash, or empty when the
// system cannot tell: callers must not build a path on an empty one, which
// would name a file at the root of the current drive.
// Asks `query` (GetSystemDirectoryW and its kind) into a MAX_PATH buffer.
inline std::wstring ReadSystemFolder(UINT(WINAPI* query)(LPWSTR, UINT)) {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = query(folder, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

// The system directory (System32, or SysWOW64 for this 32-bit program on
// 64-bit Windows), where the system's own programs lie.
inline std::wstring SystemDirectory() { return ReadSystemFolder(::GetSystemDirectoryW); }

// The installation's Windows folder: unlike %SystemDrive% it does not depend
// on the environment the caller handed down, and unlike GetWindowsDirectoryW
// it is never a per-user folder on a terminal server.
inline std::wstring SystemWindowsDirectory() { return ReadSystemFolder(::GetSystemWindowsDirectoryW); }

// One process of the machine, as the process list shows it.
struct ProcessEntry {
  std::uint32_t id = 0;
  std::uint32_t parent_id = 0;  // the process that started it, or one that had its id before
  std::wstring image_name;      // "java.exe"
};

// The processes of the machine at one moment; what failed when the list
// cannot be had.
Expected<std::vector<ProcessEntry>> ListProcesses();

// A handle of the calling thread with `access`, which another thread can
// use on it (to cancel its I/O, say). Duplicated from the thread's pseudo
// handle, which holds every right to the thread, so it is a subset of
// those rights and no access check: OpenThread checks the thread's
// security, which a restricted token can fail.
Expected<UniqueHandle> OwnThreadHandle(DWORD access);

// A thread of this process running `entry(argument)`, started through the C
// runtime (_beginthreadex), as the system asks of every thread that uses the
// runtime (the log, the streams, allocation): one started with CreateThread
// may leak the runtime's per-thread data, or find it missing.
using ThreadEntry = unsigned(__stdcall*)(void*);
Expected<UniqueHandle> StartThread(ThreadEntry entry, void* argument);

// Whether this 32-bit program runs on 64-bit Windows (WOW64).
inline bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

// A FILETIME as one number: 100 ns units since 1601 (UTC).
inline std::uint64_t TicksOf(const FILETIME& time) {
  return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// When `process` was created; none when the system will not say.
inline std::optional<std::uint64_t> CreationTimeOf(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return std::nullopt;
  return TicksOf(created);
}

// Text in the system's ANSI code page (command-line arguments as a console
// program receives them) as wide characters.
inline std::wstring AnsiToWide(std::string_view text) {
  const int length = static_cast<int>(text.size());
  const int size = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), size);
  return wide;
}

}  // namespace starter::platform
