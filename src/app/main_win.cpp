#include <exception>

#include "app/run_sequence.h"
#include "log/diag_log.h"
#include "log/startup_logger.h"

namespace {
// The diagnostic logger exists before the entry point runs, so that every
// stage, from the first, can log unconditionally. A log file that cannot be
// opened is dealt with inside; only exhausted memory could escape, and before
// the entry point there is nothing left to do about that.
const bool g_diagnostic_logger_created =  // NOLINT(cert-err58-cpp)
    (starter::log::CreateDiagnosticLogger(), true);
}  // namespace

int main(int argc, char** argv) {
  // Stages report their troubles through their results; only something like
  // exhausted memory escapes one. Callers still get exit code 0 and a log line
  // rather than an abnormal end.
  try {
    return starter::app::RunStarter(argc, argv);
  } catch (const std::exception& error) {
    starter::log::Warn("run ended early: {}", error.what());
    starter::log::Flush();
    return 0;
  }
}
