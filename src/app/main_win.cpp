#include <exception>

#include "app/run_sequence.h"
#include "log/diag_log.h"
#include "log/startup_logger.h"
#include "platform/process_hardening.h"

// The C runtime's own entry, which sets the runtime up, runs the static
// initialisers and then main.
extern "C" int mainCRTStartup();

// The program's entry (the linker is told so in src/app): it runs before the
// C runtime and every static initialiser, so that no library is loaded and
// no file opened before the process is hardened. Nothing of the runtime may
// be used here. The system enters with the stack aligned to 4 bytes; the
// runtime's entry expects the 16 a call leaves. No stack canary: the runtime
// draws the canary's value only once it runs, after this frame began.
extern "C" __attribute__((force_align_arg_pointer, no_stack_protector)) int StarterEntry() {
  starter::platform::HardenProcess(starter::platform::SystemHardeningCalls());
  return mainCRTStartup();
}

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
