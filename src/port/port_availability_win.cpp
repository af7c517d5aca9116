#include "port/port_availability.h"

#include <cstdio>
#include <memory>

#include "log/diag_log.h"
#include "port/netstat_listing.h"
#include "port/stream_output.h"
#include "service/process_detection.h"

namespace starter::port {
namespace {

struct PipeCloser {
  void operator()(std::FILE* pipe) const { _pclose(pipe); }
};
using UniquePipe = std::unique_ptr<std::FILE, PipeCloser>;

}  // namespace

int ReadCommandOutput(const char* command_line, std::string& output) {
  // Text mode: the command's CR LF line ends arrive as single newlines.
  UniquePipe pipe(_popen(command_line, "r"));
  if (!pipe) {
    log::Info("popen error");
    return -1;
  }
  return AppendStreamOutput(pipe.get(), output);
}

bool IsPortAvailable(int port) {
  if (!IsValidStartPort(port)) {
    log::Info("Invalid start port: {}", port);
    return false;
  }
  std::string output;
  if (ReadCommandOutput(AvailabilityCommandLine(port).c_str(), output) != 0) return false;
  const ListingVerdict verdict = JudgeListing(output, port);
  switch (verdict.ask) {
    case ListingVerdict::Ask::owner:
      return service::IsServiceProcessRunning(verdict.owner_id);
    case ListingVerdict::Ask::any_service:
      return service::IsServiceProcessRunning(0);
    case ListingVerdict::Ask::nothing:
      break;
  }
  return true;
}

}  // namespace starter::port
