#include "port/port_availability.h"

#include <string>

#include "log/diag_log.h"
#include "port/availability_decision.h"
#include "port/bind_probe.h"
#include "port/command_output.h"
#include "port/netstat_listing.h"
#include "port/port_listening.h"
#include "service/process_detection.h"

namespace starter::port {

bool IsPortAvailable(int port) {
  if (!IsValidStartPort(port)) {
    log::Info("Invalid start port: {}", port);
    return false;
  }
  std::string output;
  if (!ReadCommandOutput(AvailabilityCommandLine(port).c_str(), output)) return false;
  return DecideAvailability(JudgeListing(output, port), static_cast<std::uint16_t>(port),
                            {service::IsServiceProcessRunning, IsPortConnected, TryBindPort});
}

}  // namespace starter::port
