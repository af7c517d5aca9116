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

// The tables as the second witness: logged when they cannot be read.
std::optional<ListingVerdict> JudgeTables(const platform::Expected<TcpTables>& tables, std::uint16_t port) {
  if (tables) return JudgeMachineTables(*tables, port);
  log::Info("{}", Describe(tables.error()));
  return std::nullopt;
}

// Tables that cannot be read hold no connection; logged at debug level only,
// as a poll's failed read is.
bool IsConnectedIn(const platform::Expected<TcpTables>& tables, std::uint16_t port) {
  if (tables) return IsPortConnected(*tables, port);
  log::Debug("{}", Describe(tables.error()));
  return false;
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
  TablesOfOneCheck tables(ReadMachineTcpTables);
  const std::optional<ListingVerdict> verdict =
      WeighWitnesses(JudgeListingOf(port), [&] { return JudgeTables(tables.Get(), tcp_port); });
  const auto is_connected = [&tables](std::uint16_t connected_port) {
    return IsConnectedIn(tables.Get(), connected_port);
  };
  return verdict && DecideAvailability(*verdict, tcp_port, {is_service_running_, is_connected, TryBindPort});
}

}  // namespace starter::port
