#pragma once
#include <optional>

#include "port/listing_budget.h"
#include "port/netstat_listing.h"

namespace starter::port {

// The availability checks of one port selection. Each runs the connection
// listing for its port and, where needed, reads the system's TCP tables
// (WeighWitnesses); each listing has a time limit, and all of them one
// together (ListingBudget).
class PortAvailability {
 public:
  PortAvailability();

  // Whether `port` may be given to the Vantic service: nothing listens on it
  // or is connected through it, or what holds it is the service itself; a
  // free port the system refuses to bind (excluded port ranges) is not.
  // Ports outside 1024..65535 are refused.
  bool IsAvailable(int port);

 private:
  // The listing's verdict; none when it could not be had or its time ran out.
  std::optional<ListingVerdict> JudgeListingOf(int port);

  ListingBudget budget_;
};

// One check, with a budget of its own.
bool IsPortAvailable(int port);

}  // namespace starter::port
