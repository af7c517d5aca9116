#pragma once
// Small answers of the system that several subsystems ask for, asked one way.
#include "platform/win.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace starter::platform {

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
