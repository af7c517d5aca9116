#include "port/server_port.h"

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <string_view>

#include "contract/product_contract.h"
#include "log/diag_log.h"
#include "platform/handles.h"
#include "platform/winsock.h"
#include "port/command_output.h"

namespace starter::port {
namespace {

using contract::kServicePortKey;
using contract::kServicePortValue;

constexpr char kOpenCall[] = "RegOpenKeyExW";
constexpr char kQueryCall[] = "RegQueryValueExW";

// A healthy listing takes a second or two on a busy machine. One that takes
// longer is held up and is ended; all the listings of a selection together
// take no longer than the total.
constexpr std::chrono::milliseconds kListingTimeLimit{5000};
constexpr std::chrono::milliseconds kSelectionListingsLimit{10000};

}  // namespace

platform::Expected<std::uint32_t> ReadServerPort(RegistryView view) {
  platform::UniqueKey key;
  const REGSAM view_flag = view == RegistryView::k64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  const LSTATUS open_result = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServicePortKey, 0, KEY_READ | view_flag, key.put());
  if (open_result != ERROR_SUCCESS) return platform::SystemError{kOpenCall, static_cast<std::uint32_t>(open_result)};
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  // Data longer than four bytes fails here with ERROR_MORE_DATA.
  const LSTATUS query_result =
      ::RegQueryValueExW(key.get(), kServicePortValue, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (query_result != ERROR_SUCCESS) return platform::SystemError{kQueryCall, static_cast<std::uint32_t>(query_result)};
  if (type != REG_DWORD) return platform::SystemError{kQueryCall, ERROR_DATATYPE_MISMATCH};
  return std::uint32_t{data};
}

MachinePortSteps::MachinePortSteps(ServiceProcesses& services)
    : services_(services), budget_(kListingTimeLimit, kSelectionListingsLimit) {}

std::optional<std::uint32_t> MachinePortSteps::ReadStored() {
  log::Debug(L"[RegGetDword] {} {}", kServicePortKey, kServicePortValue);
  const platform::Expected<std::uint32_t> stored = ReadServerPort(RegistryView::k64Bit);
  if (!stored.ok()) {
    const platform::SystemError& failed = stored.error();
    // A value of another type is passed over without a word.
    if (std::string_view(failed.call) == kOpenCall) log::Info("RegOpenKeyEx Error: {}", failed.code);
    else if (failed.code != ERROR_DATATYPE_MISMATCH) log::Info("RegQueryValueEx Error: {}", failed.code);
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
    log::Info("RegCreateKeyEx {} key failed, result: {}",
              disposition == REG_CREATED_NEW_KEY ? "create" : "open", create_result);
    return false;
  }
  const DWORD data = value;
  const LSTATUS set_result =
      ::RegSetKeyValueW(key.get(), nullptr, kServicePortValue, REG_DWORD, &data, sizeof(data));
  if (set_result != ERROR_SUCCESS) {
    log::Info("RegSetKeyValue failed, result: {}", set_result);
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

std::uint16_t SelectServerPort(ServiceProcesses& services) {
  // One time limit for the listings of the whole selection together.
  MachinePortSteps steps(services);
  return SelectPortWith(steps);
}

}  // namespace starter::port
