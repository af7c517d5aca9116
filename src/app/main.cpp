#include "app/run_sequence.h"
#include "log/startup_logger.h"

namespace {
// The diagnostic logger exists before the entry point runs, so that every
// stage, from the first, can log unconditionally.
const bool g_diagnostic_logger_created = (starter::log::CreateDiagnosticLogger(), true);
}  // namespace

int main(int argc, char** argv) { return starter::app::RunStarter(argc, argv); }
