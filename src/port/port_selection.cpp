#include "port/port_selection.h"

#include <string_view>

#include "contract/product_contract.h"
#include "log/diag_log.h"
#include "port/port_holder.h"
#include "port/server_port.h"

namespace starter::port {
namespace {

using Ask = ListingVerdict::Ask;

constexpr int kMinStartPort = 1024;
constexpr int kMaxStartPort = 65535;

// Ports a service may be given: 1024..65535.
bool IsValidStartPort(int port) {
  return static_cast<unsigned>(port) - static_cast<unsigned>(kMinStartPort) <=
         static_cast<unsigned>(kMaxStartPort - kMinStartPort);
}

// The tables' verdict on `port` from the rows asked for; none, logged, when
// they cannot be read.
std::optional<ListingVerdict> JudgeTables(PortSelectionSteps& steps, std::uint16_t port, TableRows rows) {
  const platform::Expected<TcpTables> tables = steps.Tables(rows);
  if (tables.ok()) return JudgeTcpTables(*tables, port);
  log::Info("{}", Describe(tables.error()));
  return std::nullopt;
}

// The verdict that settles a port (IsPortAvailable: the two witnesses); none
// when neither witness can be had.
std::optional<ListingVerdict> WeighWitnesses(PortSelectionSteps& steps, const std::optional<ListingVerdict>& listing,
                                             std::uint16_t port) {
  if (listing && listing->ask != Ask::kNothing) return listing;
  const std::optional<ListingVerdict> listeners = JudgeTables(steps, port, TableRows::kListeners);
  if (listeners && listeners->ask == Ask::kOwner) return listeners;
  if (listing || !listeners) return listing;
  // No listing and no listener: only every row tells whether a connection holds the port.
  const platform::Expected<TcpTables> all = steps.Tables(TableRows::kAll);
  if (!all.ok()) {
    log::Info("{}", Describe(all.error()));
    return std::nullopt;
  }
  return ListingVerdict{HasEstablishedRow(*all, port) ? Ask::kAnyService : Ask::kNothing, std::nullopt};
}

// Tables that cannot be read hold no connection; logged at debug level only,
// as a poll's failed read is.
bool IsConnected(PortSelectionSteps& steps, std::uint16_t port) {
  const platform::Expected<TcpTables> tables = steps.Tables(TableRows::kAll);
  if (tables.ok()) return HasEstablishedRow(*tables, port);
  log::Debug("{}", Describe(tables.error()));
  return false;
}

// Whether a Vantic service is known to run. A list that cannot be read
// shows no service that a port could be left to.
bool ServiceKnownToRun(service::Processes& processes) {
  const platform::Expected<service::ServiceSearch> search = processes.FindService();
  if (!search.ok()) log::Info("{}", Describe(search.error()));
  return search.ok() && *search == service::ServiceSearch::kFound;
}

// Whether the owner of the first listening row leaves the port to the
// service (OwnerLeavesPortToService). An owner no look could be taken at,
// the process list being unreadable, is no owner known to be the service.
bool OwnerGivesWay(service::Processes& processes, std::optional<std::uint32_t> owner_id) {
  if (!owner_id) return OwnerLeavesPortToService(std::nullopt, ServiceKnownToRun(processes));
  const platform::Expected<OwnerLooks> looks = processes.LookAt({*owner_id});
  if (!looks.ok()) {
    log::Info("{}", Describe(looks.error()));
    return false;
  }
  return OwnerLeavesPortToService(OwnerIdentity({owner_id, false}, *looks), false);
}

bool DecideAvailability(PortSelectionSteps& steps, service::Processes& processes, const ListingVerdict& verdict,
                        std::uint16_t port) {
  switch (verdict.ask) {
    case Ask::kOwner:
      return OwnerGivesWay(processes, verdict.owner_id);
    case Ask::kAnyService:
      return ServiceKnownToRun(processes);
    case Ask::kConnectionTables:
      if (IsConnected(steps, port)) return ServiceKnownToRun(processes);
      break;
    case Ask::kNothing:
      break;
  }
  // Every outcome but a refusal keeps the listing's answer.
  const platform::Status bound = steps.TryBind(port);
  return bound.ok() || bound.error().code != platform::kWsaAccessDenied;
}

constexpr int kServicePortCount = contract::kLastServicePort - contract::kFirstServicePort + 1;

// The fixed lines of a ServerPort that cannot be read: its key, or the
// value. A value of another type is passed over without a word.
void LogUnread(const platform::SystemError& failed) {
  const auto result = static_cast<std::int32_t>(failed.code);
  if (std::string_view(failed.call) == kOpenKeyCall) log::Info("RegOpenKeyEx Error: {}", result);
  else if (failed.code != platform::kErrorDatatypeMismatch) log::Info("RegQueryValueEx Error: {}", result);
}

// The fixed lines of a ServerPort that cannot be written: the key that
// could not be created or opened, or the value that could not be set.
void LogUnwritten(const platform::SystemError& failed) {
  const auto result = static_cast<std::int32_t>(failed.code);
  const std::string_view call = failed.call;
  if (call == kSetValueCall) log::Info("RegSetKeyValue failed, result: {}", result);
  else log::Info("RegCreateKeyEx {} key failed, result: {}", call == kCreatedKeyCall ? "create" : "open", result);
}

// The stored port when it lies in 9673..9700. Judged as a signed number:
// stored values from 2^31 up count as below the range.
std::optional<int> ReadStoredPort(PortSelectionSteps& steps) {
  log::Debug(L"[RegGetDword] {} {}", contract::kServicePortKey, contract::kServicePortValue);
  const platform::Expected<std::uint32_t> stored = steps.ReadStored();
  if (!stored.ok()) {
    LogUnread(stored.error());
    return std::nullopt;
  }
  log::Debug("Value: {}", *stored);
  const auto port = static_cast<std::int32_t>(*stored);
  if (!contract::IsServicePort(port)) return std::nullopt;
  return port;
}

// The first usable port from `candidate` on, wrapping from 9700 to 9673;
// none when every port of the range is taken.
std::optional<int> FindUsablePort(PortSelectionSteps& steps, service::Processes& processes, int candidate) {
  for (int attempt = 0; attempt < kServicePortCount; ++attempt) {
    if (IsPortAvailable(steps, processes, candidate)) return candidate;
    log::Info("port {} is not available", candidate);
    candidate = candidate == contract::kLastServicePort ? contract::kFirstServicePort : candidate + 1;
  }
  log::Info("ports between [{}, {}] are all used", contract::kFirstServicePort, contract::kLastServicePort);
  return std::nullopt;
}

bool StorePort(PortSelectionSteps& steps, int port) {
  log::Debug(L"[RegSetDword] {} {} {}", contract::kServicePortKey, contract::kServicePortValue, port);
  if (const platform::Status written = steps.WriteStored(static_cast<std::uint32_t>(port)); !written.ok()) {
    LogUnwritten(written.error());
    log::Info("write ServerPort error");
    return false;
  }
  log::Debug("Success");
  return true;
}

}  // namespace

ListingVerdict JudgeTcpTables(const TcpTables& tables, std::uint16_t port) {
  if (const std::vector<PortListener> listeners = ListenersIn(tables, port); !listeners.empty())
    return {Ask::kOwner, listeners.front().owner_id};
  return {HasEstablishedRow(tables, port) ? Ask::kAnyService : Ask::kNothing, std::nullopt};
}

bool IsPortAvailable(PortSelectionSteps& steps, service::Processes& processes, int port) {
  if (!IsValidStartPort(port)) {
    log::Info("Invalid start port: {}", port);
    return false;
  }
  const auto tcp_port = static_cast<std::uint16_t>(port);
  const std::optional<ListingVerdict> verdict = WeighWitnesses(steps, steps.Listing(port), tcp_port);
  return verdict && DecideAvailability(steps, processes, *verdict, tcp_port);
}

std::uint16_t SelectPortWith(PortSelectionSteps& steps, service::Processes& processes) {
  const std::optional<int> usable =
      FindUsablePort(steps, processes, ReadStoredPort(steps).value_or(contract::kFirstServicePort));
  // No usable port is stored as 0, as the service and support read ServerPort.
  const int port = usable.value_or(0);
  if (StorePort(steps, port)) return static_cast<std::uint16_t>(port);
  // The service listens on the port ServerPort holds, not on this choice. A
  // standard user cannot write the value (HKLM, and no virtualisation for an
  // asInvoker program), so a port still stored there is the one to wait for.
  // It is read afresh, and a read that fails logs its line again: another
  // starter may have stored a port meanwhile.
  const std::optional<int> stored = ReadStoredPort(steps);
  if (!stored) return static_cast<std::uint16_t>(port);
  log::Warn("ServerPort not written: the service will use the stored port {}", *stored);
  return static_cast<std::uint16_t>(*stored);
}

}  // namespace starter::port
