#include "support/log_capture.h"

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <mutex>


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

LogCapture::LogCapture()
    : sink_(std::make_shared<Sink>()), logger_(std::make_shared<spdlog::logger>("capture", sink_)) {
  installed_.emplace(logger_);
}

LogCapture::~LogCapture() = default;

void LogCapture::RecordDebug() { logger_->set_level(spdlog::level::debug); }

std::vector<std::string> LogCapture::Lines() const {
  return sink_->Snapshot();
}

}  // namespace starter::test
