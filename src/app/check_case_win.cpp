#include "app/check_case.h"

#include <cstdio>

#include "app/folder_watch.h"
#include "install/markers.h"
#include "port/port_listening.h"
#include "service/process_detection.h"

namespace starter::app {

void CheckCase(int argc, char** argv, std::uint16_t port, const std::wstring& connected_marker,
               const std::optional<install::LeftoverMarker>& leftover, const ResultLines& lines) {
  ReadinessProbe probe;
  probe.port_listening = [port] { return port::IsPortListening(port); };
  probe.service_running = [] { return service::IsServiceProcessRunning(0); };
  probe.marker_present = [&] { return install::IsConnectedMarkerPresent(connected_marker, leftover); };
  probe.watch_marker_folder = [&connected_marker] { return WatchMarkerFolder(connected_marker); };
  probe.watch_nothing = WatchNothing;
  // Exactly the bytes of the line, with no line end. Flushed at once, so a
  // caller that reads as the output comes has it before the starter has
  // released its watch and ended.
  const auto print = [](const std::string& line) {
    std::printf("%s", line.c_str());
    std::fflush(stdout);
  };
  CheckCaseWith(ClassifyCallerMode(argc, argv), lines, probe, print);
}

}  // namespace starter::app
