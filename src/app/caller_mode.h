#pragma once
// Who called the starter, what that caller waits for, and the line it is told.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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

// A watch on the folder where the service writes its connected marker, and
// the steady clock the waits between polls are measured on.
class FolderWatch {
 public:
  virtual ~FolderWatch() = default;
  virtual std::chrono::microseconds Now() = 0;
  // Waits at most `timeout` for a change in the folder since the last call
  // (or since the watch began). True when there was one; the watch is then
  // armed again for the next.
  virtual bool WaitForChange(std::chrono::milliseconds timeout) = 0;
  // Waits `duration`, whatever happens in the folder.
  virtual void Pause(std::chrono::milliseconds duration) = 0;
};

// What one poll looks at, and how the starter waits and reports.
struct ReadinessProbe {
  std::function<bool()> port_listening;
  std::function<bool()> service_running;
  std::function<bool()> marker_present;
  // The plain wait of one poll period.
  std::function<void()> sleep_between_polls;
  // For the modes that wait for the marker: a watch on its folder, or null
  // when the folder cannot be watched; their waits are then plain sleeps.
  std::function<std::unique_ptr<FolderWatch>()> watch_marker_folder;
  std::function<void(const std::string&)> print;
};

inline constexpr int kMaxPolls = 200;
inline constexpr std::chrono::milliseconds kPollPeriod{100};
// Changes of the folder bring extra polls, never closer than this to the end
// of the previous poll, however often the folder changes.
inline constexpr std::chrono::milliseconds kMinExtraPollGap{10};

// Logs the mode's first line, waits as the mode requires and reports its line.
void CheckCaseWith(CallerMode mode, const ResultLines& lines, const ReadinessProbe& probe);

}  // namespace starter::app
