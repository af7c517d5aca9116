#pragma once
// The availability check's decision once the listing is judged, apart from
// the system calls that answer its questions, so every way through it can
// run against scripted answers.
#include <cstdint>
#include <functional>

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

}  // namespace starter::port
