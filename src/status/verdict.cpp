#include "status/verdict.h"

#include <algorithm>

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

// Whether reading the stored port failed; a key or value that is not there
// is a port not stored.
bool IsUnread(const StoredPort& stored) { return stored.unread && !platform::MeansNotThere(*stored.unread); }

// "port not LISTENING" with what the report found.
std::string NotListening(const std::string& found) { return fmt::format("{} ({})", contract::kPortNotListening, found); }

// The first check of a running service that fails, in the starter's words.
std::optional<std::string> FailedCheck(const Observations& seen) {
  const std::optional<std::uint32_t>& port = seen.port_64bit_view.value;
  if (IsUnread(seen.port_64bit_view))
    return NotListening("ServerPort cannot be read: " + Describe(*seen.port_64bit_view.unread));
  if (!port || !contract::IsServicePort(*port)) {
    return NotListening(
        fmt::format("ServerPort holds no port of {}..{}", contract::kFirstServicePort, contract::kLastServicePort));
  }
  if (seen.listeners_unread)
    return NotListening("the TCP tables cannot be read: " + Describe(*seen.listeners_unread));
  if (seen.listeners.empty()) return NotListening(fmt::format("nothing listens on {}", *port));
  if (!ListensForTheStarter(seen.listeners))
    return NotListening(fmt::format("only IPv6 listens on {}, which the starter does not count", *port));
  // The starter's own judge: an owner that may be the service passes, as in its wait.
  const port::PortHolding holding = port::JudgeHolder(seen.listeners, seen.owner_looks);
  if (holding.holder == port::PortHolding::Holder::kOtherProgram)
    return port::HolderWords(static_cast<std::uint16_t>(*port), holding);
  if (holding.holder == port::PortHolding::Holder::kNobody)
    return NotListening(fmt::format("what listened on {} has ended", *port));
  if (seen.ConnectedMarker().unreadable) return Missing(contract::kConnectedMarker.name, seen.ConnectedMarker());
  if (!seen.ConnectedMarker().present) return std::string(contract::kConnectedMarkerMissing);
  if (!WrittenByARunningService(seen.ConnectedMarker(), seen.services))
    return fmt::format("{} (the one there is older than every running service)", contract::kConnectedMarkerMissing);
  return std::nullopt;
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

std::string CannotBeExamined(std::uint32_t process_id) {
  return fmt::format("process {} (java.exe) cannot be examined from this account: run zephra_vantic_status.exe as "
                     "an administrator to see whether it is the Vantic service",
                     process_id);
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
    // A java.exe this account cannot examine may be the service: that is no "not running".
    if (!seen.unexamined.empty()) return {State::kUnknown, CannotBeExamined(seen.unexamined.front())};
    return {State::kNotRunning, contract::kServiceMissing};
  }
  const std::optional<std::string> failed = FailedCheck(seen);
  if (!failed) return {State::kReady, ""};
  const std::uint64_t newest = std::max_element(seen.services.begin(), seen.services.end(),
                                                [](const ServiceProcess& a, const ServiceProcess& b) {
                                                  return a.started.ticks < b.started.ticks;
                                                })->started.ticks;
  const bool young = seen.now.ticks < newest + kStarterWaitTicks;
  return {young ? State::kStarting : State::kNotReady, *failed};
}

}  // namespace starter::status
