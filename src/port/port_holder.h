#pragma once
// Who holds the service's port: one judge for the starter's wait and the
// status report, so the two never disagree, and beside it the port
// selection's own rule for the same owner. Plain decisions: the listeners
// come from the TCP tables (tcp_table.h), the looks at their owners from
// the one seam that looks at processes (service::Processes). A listener's
// owner is one of the four answers a look at a process gives
// (service::Identity); an owner the system does not name is one this
// program cannot tell, like a java.exe it may not examine. Each caller
// decides "cannot tell" as its own check would without the look: the wait's
// check is a listener on the port, so it counts the port as the service's;
// the selection's check is whether the owner is the service, so it does
// not. A process list that cannot be read is no look at all: the question
// goes unanswered, never answered "cannot tell".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/system_error.h"
#include "port/tcp_table.h"
#include "service/process_detection.h"

namespace starter::port {

using OwnerLooks = service::ProcessLooks;

// The named owners of the listeners, each once, in table order: the
// processes a look is taken at.
std::vector<std::uint32_t> NamedOwners(const std::vector<PortListener>& listeners);

// What a listener's owner is: "cannot tell" when the system names none or no
// look answered for it (the report shows it so; the judge passes such a
// named owner over).
service::Identity OwnerIdentity(const PortListener& listener, const OwnerLooks& looks);

struct PortHolding {
  enum class Holder {
    kNobody,        // no IPv4 listener, or only ones whose owners ended or went unlooked at
    kService,       // an IPv4 listener's owner is a Vantic service process
    kCannotTell,    // none is known to be the service, but one may be
    kOtherProgram,  // every IPv4 listener's owner is known to be another program
  };
  Holder holder = Holder::kNobody;
  // For kOtherProgram: the first such owner and its image name.
  std::uint32_t process_id = 0;
  std::wstring image_name;

  // Whether the wait counts the port as the service's.
  bool ServiceMayListen() const { return holder == Holder::kService || holder == Holder::kCannotTell; }
};

// The judge, from the listeners on the port and the looks at their named
// owners. A service among them decides; else an owner that may be one;
// else another program.
PortHolding JudgeHolder(const std::vector<PortListener>& listeners, const OwnerLooks& looks);

// The same judge over one look it takes at the named owners, none when there
// are none; what failed when the process list cannot be read.
platform::Expected<PortHolding> JudgeHolder(const std::vector<PortListener>& listeners,
                                            service::Processes& processes);

// The port selection's rule for the owner of the first listening row: the
// port may go to the service only when that owner is known to be the
// service. An owner the system does not name (`named_owner` none) gives the
// port up while some service is known to run, for the service may hold it;
// a named one that cannot be examined (another account's java.exe) does
// not: it may be any program, and the new service must be able to bind.
bool OwnerLeavesPortToService(std::optional<service::Identity> named_owner, bool service_known_to_run);

// How the starter and the status report word another program on `port`:
// "port 9691 held by process 1234 (other.exe), no Vantic service", the
// image name with its control characters escaped; empty for any other holder.
std::string HolderWords(std::uint16_t port, const PortHolding& holding);

}  // namespace starter::port
