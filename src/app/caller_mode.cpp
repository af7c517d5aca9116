#include "app/caller_mode.h"

#include <cstring>

#include "log/diag_log.h"

namespace starter::app {
namespace {

bool Is(const char* argument, const char* text) { return std::strcmp(argument, text) == 0; }

bool PollServiceAndMarker(const ReadinessProbe& probe) {
  if (!probe.service_running()) {
    log::Debug("exe not Exist");
    return false;
  }
  log::Debug("exe Exist");
  if (probe.marker_present()) return true;
  log::Debug("WsClientConnected.json not Exist");
  return false;
}

// Every poll starts again from the first check: success needs all checks of
// the mode to pass within one poll.
bool PollPortServiceAndMarker(const ReadinessProbe& probe) {
  if (!probe.port_listening()) {
    log::Debug("port not LISTENING");
    return false;
  }
  log::Debug("port LISTENING");
  return PollServiceAndMarker(probe);
}

// Up to kMaxPolls polls; the sleep follows every poll that fails, the last included.
bool WaitUntil(const std::function<bool()>& poll, const ReadinessProbe& probe) {
  for (int i = 0; i < kMaxPolls; ++i) {
    if (poll()) return true;
    probe.sleep_between_polls();
  }
  return false;
}

void Report(const std::string& line, const ReadinessProbe& probe) {
  probe.print(line);
  log::Info("OUTPUT->{}", line);
}

}  // namespace

CallerMode ClassifyCallerMode(int argc, const char* const* argv) {
  if (argc < 3) return CallerMode::kNoArgument;
  if (Is(argv[1], "--Dravel") && Is(argv[2], "Brimvale")) return CallerMode::kPort;
  if (Is(argv[1], "--BrandleAgent")) {
    if (Is(argv[2], "Dravel") || Is(argv[2], "Selkan")) return CallerMode::kProcessAndFile;
    if (Is(argv[2], "UninstallReport")) return CallerMode::kUninstallReport;
  }
  return CallerMode::kNone;
}

void CheckCaseWith(CallerMode mode, const ResultLines& lines, const ReadinessProbe& probe) {
  switch (mode) {
    case CallerMode::kNoArgument:
      log::Info("Case no args, check port,process and file");
      Report(WaitUntil([&] { return PollPortServiceAndMarker(probe); }, probe) ? lines.success : lines.all_timeout,
             probe);
      return;
    case CallerMode::kPort:
      log::Info("Case --Dravel Brimvale, check port");
      Report(WaitUntil(probe.port_listening, probe) ? lines.success : lines.port_timeout, probe);
      return;
    case CallerMode::kProcessAndFile:
      log::Info("Case --BrandleAgent Dravel, check process and file");
      Report(WaitUntil([&] { return PollServiceAndMarker(probe); }, probe) ? lines.success
                                                                        : lines.process_timeout,
             probe);
      return;
    case CallerMode::kUninstallReport:
      log::Info("Case --BrandleAgent UninstallReport");
      return;
    case CallerMode::kNone:
      return;
  }
}

}  // namespace starter::app
