#include "log/diag_log.h"

#include <spdlog/pattern_formatter.h>
#include <spdlog/spdlog.h>

#include <cstdlib>

#include "log/diag_logger.h"
#include "log/utf8.h"

namespace starter::log {
namespace {

std::shared_ptr<spdlog::logger> g_logger;

// "[pid] [date time.ms] [level] message", CR LF: the layout the status
// program reads back (log/log_lines.h).
constexpr char kLinePattern[] = "[%P] [%Y-%m-%d %H:%M:%S.%e] [%l] %v";
constexpr char kLineEnd[] = "\r\n";

spdlog::level::level_enum ToSpdlog(Level level) {
  switch (level) {
    case Level::kDebug: return spdlog::level::debug;
    case Level::kInfo: return spdlog::level::info;
    case Level::kWarn: return spdlog::level::warn;
  }
  return spdlog::level::warn;
}

void ReleaseDiagnosticLogger() { g_logger.reset(); }

}  // namespace

std::shared_ptr<spdlog::logger>& DiagnosticLogger() { return g_logger; }

void InstallDiagnosticLogger(std::shared_ptr<spdlog::logger> logger) {
  spdlog::register_logger(logger);
  g_logger = std::move(logger);
  // Registered after spdlog's registry came into being, so it runs before the
  // registry is destroyed: the registry then holds the last reference and
  // closes the file.
  std::atexit(ReleaseDiagnosticLogger);
}

void ConfigureDiagnosticLog() {
  g_logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
      kLinePattern, spdlog::pattern_time_type::local, kLineEnd));
  g_logger->set_level(spdlog::level::info);
  g_logger->flush_on(spdlog::level::info);
}

bool Enabled(Level level) { return g_logger && g_logger->should_log(ToSpdlog(level)); }

void Write(Level level, std::string_view text) {
  if (!g_logger) return;
  g_logger->log(ToSpdlog(level), spdlog::string_view_t(text.data(), text.size()));
}

void WriteWide(Level level, std::wstring_view text) { Write(level, WideToUtf8(text)); }

void Flush() {
  if (g_logger) g_logger->flush();
}

}  // namespace starter::log
