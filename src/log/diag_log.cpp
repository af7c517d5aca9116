#include "log/diag_log.h"

#include <spdlog/pattern_formatter.h>
#include <spdlog/spdlog.h>

#include "log/log_text.h"

namespace starter::log {
namespace {

// Read and replaced atomically: the run's limit may write its warning from
// a thread of its own while the entry point is ending and lets go of the log.
std::shared_ptr<spdlog::logger> g_logger;

std::shared_ptr<spdlog::logger> Logger() { return std::atomic_load(&g_logger); }

// A shared_ptr's atomic operations take a mutex of libstdc++'s, and spdlog
// keeps each thread's id in a thread_local: both are made on first use
// behind the threads library's once-objects, whose allocations it never
// checks, and a machine out of memory at that moment crashed the program.
// Their first use is made here, as the runtime starts, before main.
bool UseOnceObjectsFirst() noexcept {
  static_cast<void>(spdlog::details::os::thread_id());
  return Logger() == nullptr;
}
const bool g_once_objects_used = UseOnceObjectsFirst();

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

}  // namespace

DiagnosticLog::DiagnosticLog(std::shared_ptr<spdlog::logger> logger) {
  if (logger) {
    logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
        kLinePattern, spdlog::pattern_time_type::local, kLineEnd));
    logger->set_level(spdlog::level::info);
    logger->flush_on(spdlog::level::info);
  }
  previous_ = std::atomic_exchange(&g_logger, std::move(logger));
}

DiagnosticLog::~DiagnosticLog() { std::atomic_store(&g_logger, std::move(previous_)); }

bool Enabled(Level level) {
  const std::shared_ptr<spdlog::logger> logger = Logger();
  return logger && logger->should_log(ToSpdlog(level));
}

void Write(Level level, std::string_view text) {
  if (const std::shared_ptr<spdlog::logger> logger = Logger())
    logger->log(ToSpdlog(level), spdlog::string_view_t(text.data(), text.size()));
}

void WriteWide(Level level, std::wstring_view text) { Write(level, WideToUtf8(text)); }

void Flush() {
  if (const std::shared_ptr<spdlog::logger> logger = Logger()) logger->flush();
}

}  // namespace starter::log
