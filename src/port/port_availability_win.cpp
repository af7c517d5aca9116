#include "port/port_availability.h"

#include <string>

#include "log/diag_log.h"
#include "port/command_output.h"
#include "port/netstat_listing.h"
#include "service/process_detection.h"

namespace starter::port {

bool IsPortAvailable(int port) {
  if (!IsValidStartPort(port)) {
    log::Info("Invalid start port: {}", port);
    return false;
  }
  std::string output;
  if (!ReadCommandOutput(AvailabilityCommandLine(port).c_str(), output)) return false;
  const ListingVerdict verdict = JudgeListing(output, port);
  switch (verdict.ask) {
    case ListingVerdict::Ask::kOwner:
      return service::IsServiceProcessRunning(verdict.owner_id);
    case ListingVerdict::Ask::kAnyService:
      return service::IsServiceProcessRunning(0);
    case ListingVerdict::Ask::kNothing:
      break;
  }
  return true;
}

}  // namespace starter::port
