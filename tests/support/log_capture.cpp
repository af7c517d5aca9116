#include "support/log_capture.h"

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <mutex>

#include "log/diag_logger.h"

namespace starter::test {

struct LogCapture::Sink final : spdlog::sinks::base_sink<std::mutex> {
  std::vector<std::string> Snapshot() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines;
  }

 protected:
  std::vector<std::string> lines;

  void sink_it_(const spdlog::details::log_msg& msg) override {
    auto level = spdlog::level::to_string_view(msg.level);
    lines.push_back(std::string(level.data(), level.size()) + ": " +
                    std::string(msg.payload.data(), msg.payload.size()));
  }
  void flush_() override {}
};

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()) {
  saved_ = log::DiagnosticLogger();
  auto logger = std::make_shared<spdlog::logger>("capture", sink_);
  logger->set_level(spdlog::level::info);
  log::DiagnosticLogger() = logger;
}

LogCapture::~LogCapture() { log::DiagnosticLogger() = saved_; }

std::vector<std::string> LogCapture::Lines() const {
  return sink_->Snapshot();
}

}  // namespace starter::test
