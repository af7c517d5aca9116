#pragma once
// The diagnostic log as the stages see it. Narrow messages reach the file as
// their bytes; wide ones are formatted in wide characters and written as
// UTF-8. A message below the logger's level costs one comparison: nothing is
// formatted. spdlog itself stays out of this header, which every stage includes.
#include <fmt/format.h>
#include <fmt/xchar.h>

#include <memory>
#include <string>
#include <string_view>

namespace spdlog { class logger; }

namespace starter::log {

// Makes a logger the process's diagnostic log for the owner's life, then
// puts back the one before (none, in the starter). The logger writes each
// line as "[pid] [date time.ms] [level] message" in local time with CR LF
// (the layout log/log_lines.h reads back), drops debug lines and hands every
// written line to its sinks at once; without one, nothing is logged. The
// starter's own is made by OpenStarterLog (log/log_file.h).
class DiagnosticLog {
 public:
  explicit DiagnosticLog(std::shared_ptr<spdlog::logger> logger);
  DiagnosticLog(const DiagnosticLog&) = delete;
  DiagnosticLog& operator=(const DiagnosticLog&) = delete;
  ~DiagnosticLog();

 private:
  std::shared_ptr<spdlog::logger> previous_;
};

enum class Level { kDebug = 1, kInfo = 2, kWarn = 3 };

bool Enabled(Level level);
void Write(Level level, std::string_view text);
void WriteWide(Level level, std::wstring_view text);
void Flush();

// One writer per level: log::Info("...", ...) takes a narrow or a wide format
// string, checked against its arguments when the program is compiled. A
// message below the logger's level is never formatted.
template <Level kLevel>
struct LevelWriter {
  template <typename... Args>
  void operator()(fmt::format_string<Args...> format, Args&&... args) const {
    if (Enabled(kLevel)) Write(kLevel, fmt::format(format, std::forward<Args>(args)...));
  }
  template <typename... Args>
  void operator()(fmt::wformat_string<Args...> format, Args&&... args) const {
    if (Enabled(kLevel)) WriteWide(kLevel, fmt::format(format, std::forward<Args>(args)...));
  }
};

inline constexpr LevelWriter<Level::kDebug> Debug;
inline constexpr LevelWriter<Level::kInfo> Info;
inline constexpr LevelWriter<Level::kWarn> Warn;

}  // namespace starter::log
