#include <exception>

#include "app/run_sequence.h"
#include "log/diag_log.h"
#include "log/startup_logger.h"

namespace {
// The diagnostic logger exists before the entry point runs, so that every
// stage, from the first, can log unconditionally.
const bool g_diagnostic_logger_created = (starter::log::CreateDiagnosticLogger(), true);
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
