#pragma once
#include <cstddef>
#include <cstdint>

namespace starter::log {

inline constexpr wchar_t kLogFile[] =
    L"C:\\Users\\Public\\Documents\\corvel\\VanticLogs\\zephra_vantic_starter.log";
// corvel and VanticLogs: the folders of the path that are the starter's own.
inline constexpr std::size_t kOwnLogFolders = 2;
inline constexpr std::uint64_t kMaxLogSize = 3145728;

inline constexpr char kLinePattern[] = "[%P] [%Y-%m-%d %H:%M:%S.%e] [%l] %v";
inline constexpr char kLineEnd[] = "\r\n";

}  // namespace starter::log
