#include "status/verdict.h"

#include <algorithm>
#include <iterator>

#include <fmt/format.h>

namespace starter::status {
namespace {

// How long a starter waits for a service it launched, in 100 ns units. A
// service younger than that may still become ready for its caller.
constexpr std::uint64_t kStarterWaitTicks = static_cast<std::uint64_t>(contract::kWholeWait.count()) * 10'000;

std::string Missing(const char* what, const FileFacts& file) {
  if (file.unreadable) return fmt::format("{} cannot be read: {}", what, Describe(*file.unreadable));
  return fmt::format("{} is missing", what);
}

std::optional<Verdict> NotInstalled(const Observations& seen) {
  if (seen.install_root.empty()) return Verdict{State::kNotInstalled, "the Program Files folder is unknown"};
  for (const auto& [file, name] : {std::pair(&seen.java_runtime, "java.exe"), std::pair(&seen.service_jar, "Vantic.jar")}) {
    if (file->present) continue;
    return Verdict{file->unreadable ? State::kUnknown : State::kNotInstalled, Missing(name, *file)};
  }
  return std::nullopt;
}

// "port not LISTENING" with what the report found.
std::string NotListening(const std::string& found) { return fmt::format("{} ({})", contract::kPortNotListening, found); }

// What one of the starter's checks says of a running service: it passes,
// it fails (why, in the starter's words), or the report cannot tell, as a
// read it needs failed (the reason names the read and its failure).
struct CheckAnswer {
  enum class Kind { kPasses, kFails, kCannotTell } kind = Kind::kPasses;
  std::string reason;
};

CheckAnswer Fails(std::string reason) { return {CheckAnswer::Kind::kFails, std::move(reason)}; }
CheckAnswer CannotTell(std::string reason) { return {CheckAnswer::Kind::kCannotTell, std::move(reason)}; }

// The port check: a listener on the stored port, as the starter's wait
// judges it.
CheckAnswer PortCheck(const Observations& seen) {
  const std::optional<std::uint32_t>& port = seen.port_64bit_view.value;
  if (StoredPortUnread(seen.port_64bit_view))
    return CannotTell("ServerPort cannot be read: " + Describe(*seen.port_64bit_view.unread));
  if (!port || !contract::IsServicePort(*port)) {
    return Fails(NotListening(
        fmt::format("ServerPort holds no port of {}..{}", contract::kFirstServicePort, contract::kLastServicePort)));
  }
  if (seen.listeners_unread) return CannotTell("the TCP tables cannot be read: " + Describe(*seen.listeners_unread));
  if (seen.listeners.empty()) return Fails(NotListening(fmt::format("nothing listens on {}", *port)));
  if (!ListensForTheStarter(seen.listeners))
    return Fails(NotListening(fmt::format("only IPv6 listens on {}, which the starter does not count", *port)));
  // The starter's own judge: an owner that may be the service passes, as in its wait.
  const port::PortHolding holding = port::JudgeHolder(seen.listeners, seen.owner_looks);
  if (holding.holder == port::PortHolding::Holder::kOtherProgram)
    return Fails(port::HolderWords(static_cast<std::uint16_t>(*port), holding));
  if (holding.holder == port::PortHolding::Holder::kNobody)
    return Fails(NotListening(fmt::format("what listened on {} has ended", *port)));
  return {};
}

// The marker check: the connected marker, written by a running service.
CheckAnswer MarkerCheck(const Observations& seen) {
  const FileFacts& marker = seen.ConnectedMarker();
  if (marker.unreadable) return CannotTell(Missing(contract::kConnectedMarker.name, marker));
  if (!marker.present) return Fails(contract::kConnectedMarkerMissing);
  if (!WrittenByARunningService(marker, seen.services))
    return Fails(fmt::format("{} (the one there is older than every running service)", contract::kConnectedMarkerMissing));
  return {};
}

// The verdict on running services: a check that fails decides, whatever
// another could not read, since the service is then surely not ready; a
// check that cannot tell decides only when none fails.
Verdict JudgeRunningServices(const Observations& seen) {
  const CheckAnswer answers[] = {PortCheck(seen), MarkerCheck(seen)};
  const auto first = [&answers](CheckAnswer::Kind kind) {
    return std::find_if(std::begin(answers), std::end(answers),
                        [kind](const CheckAnswer& answer) { return answer.kind == kind; });
  };
  if (const CheckAnswer* failed = first(CheckAnswer::Kind::kFails); failed != std::end(answers)) {
    const std::uint64_t newest = std::max_element(seen.services.begin(), seen.services.end(),
                                                  [](const ServiceProcess& a, const ServiceProcess& b) {
                                                    return a.started.ticks < b.started.ticks;
                                                  })->started.ticks;
    const bool young = seen.now.ticks < newest + kStarterWaitTicks;
    return {young ? State::kStarting : State::kNotReady, failed->reason};
  }
  if (const CheckAnswer* unread = first(CheckAnswer::Kind::kCannotTell); unread != std::end(answers))
    return {State::kUnknown, unread->reason};
  return {State::kReady, ""};
}

}  // namespace

int ExitCodeOf(State state) {
  switch (state) {
    case State::kReady: return 0;
    case State::kStarting:
    case State::kNotReady: return 1;
    case State::kNotRunning: return 3;
    case State::kNotInstalled:
    case State::kUnknown: return 4;
  }
  return 4;
}

const char* NameOf(State state) {
  switch (state) {
    case State::kReady: return "ready";
    case State::kStarting: return "starting";
    case State::kNotReady: return "not ready";
    case State::kNotRunning: return "not running";
    case State::kNotInstalled: return "not installed";
    case State::kUnknown: return "unknown";
  }
  return "unknown";
}

std::string CannotBeExamined(const platform::Expected<bool>& debug_privilege) {
  if (!debug_privilege.ok()) {
    return "cannot be examined from this account, and the debug privilege could not be enabled (" +
           Describe(debug_privilege.error()) + "): it may be the Vantic service";
  }
  if (*debug_privilege) return "cannot be examined, even with the debug privilege this run enabled: it may be the Vantic service";
  return "cannot be examined from this account: an elevated run of zephra_vantic_status.exe (run as administrator) "
         "enables the debug privilege, which can examine it and tell whether it is the Vantic service";
}

std::string CannotBeExamined(std::uint32_t process_id, const platform::Expected<bool>& debug_privilege) {
  return fmt::format("process {} (java.exe) {}", process_id, CannotBeExamined(debug_privilege));
}

bool StoredPortUnread(const StoredPort& stored) {
  constexpr std::uint32_t kLongerData = 234;    // ERROR_MORE_DATA: a value longer than a DWORD
  constexpr std::uint32_t kAnotherType = 1629;  // ERROR_DATATYPE_MISMATCH
  // No key or no value is no port stored, as one that holds no DWORD is.
  if (!stored.unread || platform::MeansNotThere(*stored.unread)) return false;
  const std::uint32_t code = stored.unread->code;
  return stored.unread->space != platform::ErrorSpace::kWin32 || (code != kLongerData && code != kAnotherType);
}

bool WrittenByARunningService(const FileFacts& marker, const std::vector<ServiceProcess>& services) {
  return marker.present && std::any_of(services.begin(), services.end(), [&marker](const ServiceProcess& service) {
           return marker.written.ticks >= service.started.ticks;
         });
}

bool ListensForTheStarter(const std::vector<port::PortListener>& listeners) {
  return std::any_of(listeners.begin(), listeners.end(), [](const port::PortListener& listener) { return !listener.ipv6; });
}

Verdict JudgeState(const Observations& seen) {
  if (!seen.unanswered.empty())
    return {State::kUnknown, fmt::format("no answer in time from {}", seen.unanswered)};
  if (!seen.failed.empty()) return {State::kUnknown, seen.failed};
  if (std::optional<Verdict> not_installed = NotInstalled(seen)) return *not_installed;
  if (seen.services_unread)
    return {State::kUnknown, fmt::format("the running processes cannot be read: {}", Describe(*seen.services_unread))};
  if (seen.services.empty()) {
    // A java.exe this run cannot examine may be the service: that is no "not running".
    if (!seen.unexamined.empty())
      return {State::kUnknown, CannotBeExamined(seen.unexamined.front(), seen.debug_privilege)};
    return {State::kNotRunning, contract::kServiceMissing};
  }
  return JudgeRunningServices(seen);
}

}  // namespace starter::status
