#pragma once
// Replaces the diagnostic logger, for the life of one test, with one that
// records each message with its level, at the thresholds a configured run uses.
#include <memory>
#include <string>
#include <vector>

namespace spdlog { class logger; }

namespace starter::test {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Each message as "level: text", in the order logged.
  std::vector<std::string> Lines() const;

 private:
  struct Sink;
  std::shared_ptr<Sink> sink_;
  std::shared_ptr<spdlog::logger> saved_;
};

}  // namespace starter::test
