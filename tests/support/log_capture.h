#pragma once
// Replaces the diagnostic log, for the life of one test, with one that
// records each message with its level, at the thresholds a run uses.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "log/diag_log.h"

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
  // Records debug messages too.
  void RecordDebug();

 private:
  struct Sink;
  std::shared_ptr<Sink> sink_;
  std::shared_ptr<spdlog::logger> logger_;
  std::optional<log::DiagnosticLog> installed_;
};

}  // namespace starter::test
