#pragma once
// The diagnostic log as the stages see it. Narrow messages reach the file as
// their bytes; wide ones are formatted in wide characters and written as
// UTF-8. A message below the logger's level costs one comparison: nothing is
// formatted. spdlog itself stays out of this header, which every stage includes.
#include <fmt/format.h>
#include <fmt/xchar.h>

#include <string>
#include <string_view>

namespace starter::log {

enum class Level { kDebug = 1, kInfo = 2, kWarn = 3 };

bool Enabled(Level level);
void Write(Level level, std::string_view text);
void WriteWide(Level level, std::wstring_view text);
void Flush();

template <typename... Args>
void Emit(Level level, fmt::format_string<Args...> format, Args&&... args) {
  if (Enabled(level)) Write(level, fmt::format(format, std::forward<Args>(args)...));
}
template <typename... Args>
void Emit(Level level, fmt::wformat_string<Args...> format, Args&&... args) {
  if (Enabled(level)) WriteWide(level, fmt::format(format, std::forward<Args>(args)...));
}

template <typename... Args>
void Debug(fmt::format_string<Args...> format, Args&&... args) {
  Emit(Level::kDebug, format, std::forward<Args>(args)...);
}
template <typename... Args>
void Debug(fmt::wformat_string<Args...> format, Args&&... args) {
  Emit(Level::kDebug, format, std::forward<Args>(args)...);
}
template <typename... Args>
void Info(fmt::format_string<Args...> format, Args&&... args) {
  Emit(Level::kInfo, format, std::forward<Args>(args)...);
}
template <typename... Args>
void Info(fmt::wformat_string<Args...> format, Args&&... args) {
  Emit(Level::kInfo, format, std::forward<Args>(args)...);
}
template <typename... Args>
void Warn(fmt::format_string<Args...> format, Args&&... args) {
  Emit(Level::kWarn, format, std::forward<Args>(args)...);
}
template <typename... Args>
void Warn(fmt::wformat_string<Args...> format, Args&&... args) {
  Emit(Level::kWarn, format, std::forward<Args>(args)...);
}

}  // namespace starter::log
