#pragma once

namespace starter::log {

// Creates the diagnostic logger on its fixed file and installs it. Runs as
// the program's last static initialiser, before the entry point.
void CreateDiagnosticLogger();

}  // namespace starter::log
