#pragma once
// The availability check's decision once the listing is judged, apart from
// the system calls that answer its questions, so every way through it can
// run against scripted answers.
#include <cstdint>
#include <functional>
#include <optional>

#include "port/bind_probe.h"
#include "port/netstat_listing.h"

namespace starter::port {

struct AvailabilityProbes {
  // Whether a Vantic service process runs; 0 accepts any process.
  std::function<bool(std::uint32_t)> is_service_running;
  // Whether the system's tables hold an established connection on the port.
  std::function<bool(std::uint16_t)> is_connected;
  std::function<BindOutcome(std::uint16_t)> try_bind;
};

// Whether `port` may be given to the service, by the listing's `verdict`.
// A port the listing finds free is bound once: ports the system reserves
// appear in no listing, and only a refused bind tells them apart.
bool DecideAvailability(const ListingVerdict& verdict, std::uint16_t port,
                        const AvailabilityProbes& probes);

// The verdict that settles a port, from two witnesses: the listing's, none
// when it could not be had (the interpreter did not start, the pipe could
// not be read, the time ran out), and the system's TCP tables', asked for
// only when needed and none when they cannot be read. Without a listing the
// tables decide. A listing that finds the port free is checked against them:
// one that failed inside the interpreter prints nothing, so a listener in the
// tables decides then. None when neither witness can be had.
std::optional<ListingVerdict> WeighWitnesses(const std::optional<ListingVerdict>& listing,
                                             const std::function<std::optional<ListingVerdict>()>& tables);

}  // namespace starter::port
