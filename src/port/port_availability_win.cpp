#include "port/port_availability.h"

#include <chrono>
#include <cstdint>
#include <string>

#include "log/diag_log.h"
#include "port/command_output.h"
#include "port/port_listening.h"

namespace starter::port {
namespace {

// A healthy listing takes a second or two on a busy machine. One that takes
// longer is held up and is ended; all the listings of a selection together
// take no longer than the total.
constexpr std::chrono::milliseconds kListingTimeLimit{5000};
constexpr std::chrono::milliseconds kSelectionListingsLimit{10000};

std::optional<ListingVerdict> JudgeTables(std::uint16_t port) {
  const platform::Expected<ListingVerdict> verdict = JudgePortFromTables(port);
  if (verdict) return *verdict;
  log::Info("{}", Describe(verdict.error()));
  return std::nullopt;
}

}  // namespace

PortAvailability::PortAvailability(std::function<bool(std::uint32_t)> is_service_running)
    : is_service_running_(std::move(is_service_running)), budget_(kListingTimeLimit, kSelectionListingsLimit) {}

std::optional<ListingVerdict> PortAvailability::JudgeListingOf(int port) {
  const std::chrono::milliseconds left = budget_.Left(ListingBudget::Clock::now());
  if (left.count() == 0) return std::nullopt;
  std::string output;
  const CommandOutput read = ReadCommandOutput(AvailabilityCommandLine(port).c_str(), output, left);
  if (read == CommandOutput::kTimedOut) budget_.RanOut();
  if (read != CommandOutput::kRead) return std::nullopt;
  return JudgeListing(output, port);
}

bool PortAvailability::IsAvailable(int port) {
  if (!IsValidStartPort(port)) {
    log::Info("Invalid start port: {}", port);
    return false;
  }
  const auto tcp_port = static_cast<std::uint16_t>(port);
  const std::optional<ListingVerdict> verdict =
      WeighWitnesses(JudgeListingOf(port), [tcp_port] { return JudgeTables(tcp_port); });
  return verdict && DecideAvailability(*verdict, tcp_port,
                                       {is_service_running_, IsPortConnected, TryBindPort});
}

}  // namespace starter::port
