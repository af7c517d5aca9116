#include "port/port_selection.h"

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <string>

#include "contract/product_contract.h"
#include "platform/winsock.h"
#include "port/command_output.h"
#include "port/server_port.h"
#include "service/process_detection.h"

namespace starter::port {
namespace {

// A healthy listing takes a second or two on a busy machine. One that takes
// longer is held up and is ended; all the listings of a selection together
// take no longer than the total.
constexpr std::chrono::milliseconds kListingTimeLimit{5000};
constexpr std::chrono::milliseconds kSelectionListingsLimit{10000};
static_assert(kListingTimeLimit <= kSelectionListingsLimit &&
                  kSelectionListingsLimit < contract::BoundOf(contract::Stage::kPortSelection).bound,
              "the listings leave the port selection's bound room for the TCP tables and the registry");

// `call`, a function of Winsock, failed, and its last error says why.
platform::SystemError WinsockError(const char* call) {
  return {call, static_cast<std::uint32_t>(::WSAGetLastError())};
}

}  // namespace

MachinePortSteps::MachinePortSteps() : budget_(kListingTimeLimit, kSelectionListingsLimit) {}

platform::Expected<std::uint32_t> MachinePortSteps::ReadStored() { return ReadServerPort(RegistryView::k64Bit); }

platform::Status MachinePortSteps::WriteStored(std::uint32_t port) { return WriteServerPort(port); }

std::optional<ListingVerdict> MachinePortSteps::Listing(int port) {
  const std::chrono::milliseconds left = budget_.Left(ListingBudget::Clock::now());
  if (left.count() == 0) return std::nullopt;
  std::string output;
  const CommandOutput read = ReadCommandOutput(AvailabilityCommandLine(port).c_str(), output, left);
  if (read == CommandOutput::kTimedOut) budget_.RanOut();
  if (read != CommandOutput::kRead) return std::nullopt;
  return JudgeListing(output, port);
}

platform::Expected<TcpTables> MachinePortSteps::Tables(TableRows rows) { return ReadMachineTcpTables(rows); }

platform::Status MachinePortSteps::TryBind(std::uint16_t port) {
  const platform::WinsockSession winsock;
  if (winsock.Result() != 0) return platform::SystemError{"WSAStartup", static_cast<std::uint32_t>(winsock.Result())};
  const platform::UniqueSocket probe(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!probe) return WinsockError("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    return WinsockError("bind");
  return {};
}

std::uint16_t SelectServerPort() {
  // One time limit for the listings of the whole selection together.
  MachinePortSteps steps;
  service::MachineProcesses processes;
  return SelectPortWith(steps, processes);
}

}  // namespace starter::port
