#pragma once
// Ownership and set-up of the process-wide diagnostic logger. Only the code
// that creates or configures the logger includes this header.
#include <spdlog/logger.h>

#include <memory>

namespace starter::log {

// Creates the diagnostic logger on its fixed file and installs it. Runs as
// the program's last static initialiser, before the entry point.
void CreateDiagnosticLogger();

// The process-wide pointer to the diagnostic logger; empty until it is created.
std::shared_ptr<spdlog::logger>& DiagnosticLogger();

// Makes `logger` the diagnostic logger: registers it under its name with
// spdlog and arranges for the process-wide pointer to be released at exit,
// before spdlog's registry closes the file.
void InstallDiagnosticLogger(std::shared_ptr<spdlog::logger> logger);

// The entry point's first act: line pattern in local time with CR LF, then
// level and flush thresholds at info, so debug lines are dropped and every
// written line reaches the file at once.
void ConfigureDiagnosticLog();

}  // namespace starter::log
