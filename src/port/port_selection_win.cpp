#include "port/port_selection.h"

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <string_view>

#include "contract/product_contract.h"
#include "log/diag_log.h"
#include "platform/handles.h"
#include "platform/winsock.h"
#include "port/command_output.h"
#include "port/server_port.h"
#include "service/process_detection.h"

namespace starter::port {
namespace {

using contract::kServicePortKey;
using contract::kServicePortValue;

// A healthy listing takes a second or two on a busy machine. One that takes
// longer is held up and is ended; all the listings of a selection together
// take no longer than the total.
constexpr std::chrono::milliseconds kListingTimeLimit{5000};
constexpr std::chrono::milliseconds kSelectionListingsLimit{10000};
static_assert(kListingTimeLimit <= kSelectionListingsLimit &&
                  kSelectionListingsLimit < contract::BoundOf(contract::Stage::kPortSelection).bound,
              "the listings leave the port selection's bound room for the TCP tables and the registry");

}  // namespace

MachinePortSteps::MachinePortSteps() : budget_(kListingTimeLimit, kSelectionListingsLimit) {}

std::optional<std::uint32_t> MachinePortSteps::ReadStored() {
  log::Debug(L"[RegGetDword] {} {}", kServicePortKey, kServicePortValue);
  const platform::Expected<std::uint32_t> stored = ReadServerPort(RegistryView::k64Bit);
  if (!stored.ok()) {
    const platform::SystemError& failed = stored.error();
    // A value of another type is passed over without a word.
    if (std::string_view(failed.call) == kOpenKeyCall) log::Info("RegOpenKeyEx Error: {}", failed.code);
    else if (failed.code != platform::kErrorDatatypeMismatch) log::Info("RegQueryValueEx Error: {}", failed.code);
    return std::nullopt;
  }
  log::Debug("Value: {}", *stored);
  return *stored;
}

bool MachinePortSteps::WriteStored(std::uint32_t value) {
  log::Debug(L"[RegSetDword] {} {} {}", kServicePortKey, kServicePortValue, value);
  platform::UniqueKey key;
  DWORD disposition = 0;  // stays 0 when a failed call reports none
  const LSTATUS create_result =
      ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServicePortKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.put(), &disposition);
  if (create_result != ERROR_SUCCESS) {
    LogKeyRefused(disposition == REG_CREATED_NEW_KEY, create_result);
    return false;
  }
  const DWORD data = value;
  const LSTATUS set_result =
      ::RegSetKeyValueW(key.get(), nullptr, kServicePortValue, REG_DWORD, &data, sizeof(data));
  if (set_result != ERROR_SUCCESS) {
    LogValueRefused(set_result);
    return false;
  }
  log::Debug("Success");
  return true;
}

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

BindOutcome MachinePortSteps::TryBind(std::uint16_t port) {
  const platform::WinsockSession winsock;
  if (winsock.Result() != 0) return BindOutcome::kFailed;
  const platform::UniqueSocket probe(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!probe) return BindOutcome::kFailed;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
    return BindOutcome::kBound;
  return ::WSAGetLastError() == WSAEACCES ? BindOutcome::kRefused : BindOutcome::kFailed;
}

std::uint16_t SelectServerPort() {
  // One time limit for the listings of the whole selection together.
  MachinePortSteps steps;
  service::MachineProcesses processes;
  return SelectPortWith(steps, processes);
}

}  // namespace starter::port
