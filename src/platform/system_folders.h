#pragma once
// The folders of the Windows installation, as the system reports them. Each
// answer is the folder without a trailing backslash, or empty when the
// system cannot tell: callers must not build a path on an empty one, which
// would name a file at the root of the current drive.
#include "platform/win.h"

#include <string>

namespace starter::platform {

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

}  // namespace starter::platform
