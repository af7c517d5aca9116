#include "port/port_holder.h"

#include <algorithm>

#include "log/log_text.h"

namespace starter::port {

using service::Identity;

std::vector<std::uint32_t> NamedOwners(const std::vector<PortListener>& listeners) {
  std::vector<std::uint32_t> owners;
  for (const PortListener& listener : listeners) {
    if (!listener.owner_id) continue;
    if (std::find(owners.begin(), owners.end(), *listener.owner_id) == owners.end())
      owners.push_back(*listener.owner_id);
  }
  return owners;
}

Identity OwnerIdentity(const PortListener& listener, const OwnerLooks& looks) {
  if (!listener.owner_id) return Identity::kCannotTell;
  const auto look = looks.find(*listener.owner_id);
  return look == looks.end() ? Identity::kCannotTell : look->second.identity;
}

namespace {

using Holder = PortHolding::Holder;

Holder HolderOf(Identity owner) {
  switch (owner) {
    case Identity::kService: return Holder::kService;
    case Identity::kCannotTell: return Holder::kCannotTell;
    case Identity::kOtherProgram: return Holder::kOtherProgram;
    case Identity::kEnded: break;  // its socket went with it
  }
  return Holder::kNobody;
}

// The service decides, then an owner that may be the service, then another program.
int Strength(Holder holder) {
  switch (holder) {
    case Holder::kService: return 3;
    case Holder::kCannotTell: return 2;
    case Holder::kOtherProgram: return 1;
    case Holder::kNobody: break;
  }
  return 0;
}

}  // namespace

PortHolding JudgeHolder(const std::vector<PortListener>& listeners, const OwnerLooks& looks) {
  PortHolding holding;
  for (const PortListener& listener : listeners) {
    if (listener.ipv6) continue;
    // A named owner no look answered for was never looked at: it proves
    // nothing, least of all that the service listens.
    if (listener.owner_id && looks.count(*listener.owner_id) == 0) continue;
    const Holder holder = HolderOf(OwnerIdentity(listener, looks));
    if (Strength(holder) <= Strength(holding.holder)) continue;
    holding = {holder, 0, {}};
    // Only a look can tell another program: its owner is named and was looked at.
    if (holder == Holder::kOtherProgram) {
      holding.process_id = *listener.owner_id;
      holding.image_name = looks.at(*listener.owner_id).image_name;
    }
  }
  return holding;
}

platform::Expected<PortHolding> JudgeHolder(const std::vector<PortListener>& listeners,
                                            service::Processes& processes) {
  const platform::Expected<OwnerLooks> looks = processes.LookAt(NamedOwners(listeners));
  if (!looks.ok()) return looks.error();
  return JudgeHolder(listeners, *looks);
}

bool OwnerLeavesPortToService(std::optional<Identity> named_owner, bool service_known_to_run) {
  if (!named_owner) return service_known_to_run;
  return *named_owner == Identity::kService;
}

std::string HolderWords(std::uint16_t port, const PortHolding& holding) {
  if (holding.holder != PortHolding::Holder::kOtherProgram) return {};
  // The image name is another program's: it is shown with its controls escaped.
  return "port " + std::to_string(port) + " held by process " + std::to_string(holding.process_id) + " (" +
         log::EscapeControls(log::WideToUtf8(holding.image_name)) + "), no Vantic service";
}

}  // namespace starter::port
