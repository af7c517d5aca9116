#pragma once
// Who called the starter, what that caller waits for, and the line it is told.
#include <functional>
#include <string>

#include "app/readiness_wait.h"

namespace starter::app {

enum class CallerMode {
  kNoArgument,       // fewer than two arguments: port, service process and marker
  kPort,             // --Dravel Brimvale: port listening
  kProcessAndFile,   // --BrandleAgent Dravel|Selkan: service process and marker
  kUninstallReport,  // --BrandleAgent UninstallReport: no wait, no output
  kNone,             // anything else: no wait, no output
};

// Exact, case-sensitive comparison of the first two arguments; later ones are ignored.
CallerMode ClassifyCallerMode(int argc, const char* const* argv);

// The four status texts a caller may read on standard output.
struct ResultLines {
  std::string success = R"({"Dravel":0,"Selkan":0})";
  std::string port_timeout = R"({"Dravel":1,"Selkan":0})";
  std::string process_timeout = R"({"Dravel":0,"Selkan":1})";
  std::string all_timeout = R"({"Dravel":1,"Selkan":1})";
};

// Logs the mode's first line, waits as the mode requires and reports its
// line through `print`.
void CheckCaseWith(CallerMode mode, const ResultLines& lines, const ReadinessProbe& probe,
                   const std::function<void(const std::string&)>& print);

}  // namespace starter::app
