#pragma once
// Whether a port may be given to the Vantic service: the decision once the
// listing is judged, apart from the system calls that answer its questions
// (so every way through it runs against scripted answers), the time the
// listings of one selection may take, and the checks of one selection.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/system_error.h"
#include "port/netstat_listing.h"
#include "port/tcp_table.h"

namespace starter::port {

// What binding a socket to the port, and closing it at once, came to. A port
// the system reserves (excluded port ranges of Hyper-V, WSL2 or Docker)
// appears in no listing, and only a refused bind tells it apart from a free one.
enum class BindOutcome {
  kBound,
  kRefused,  // WSAEACCES: the system keeps the port from programs (excluded port ranges)
  kFailed,   // any other failure, including one to set the socket up
};

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

// The system's TCP tables for one availability check, read on first need and
// never again: both questions a check may ask of them (who listens on the
// port, whether a connection is established through it) are judged from the
// one read. On a machine with thousands of connections a read takes seconds.
class TablesOfOneCheck {
 public:
  using Read = std::function<platform::Expected<TcpTables>()>;

  explicit TablesOfOneCheck(Read read) : read_(std::move(read)) {}

  // The tables, or the failure to read them, from the first call on.
  const platform::Expected<TcpTables>& Get();

 private:
  Read read_;
  std::optional<platform::Expected<TcpTables>> tables_;
};

// The time the connection listings of one port selection may take: each one
// on its own, and all of them together. A listing that never ends, or a run
// of slow ones, would otherwise hold up the run. Once the time is spent, or a
// listing ran out of its own (the listing is held up: the next would be too),
// the ports left are judged from the system's TCP tables alone, without
// starting another listing.
class ListingBudget {
 public:
  using Clock = std::chrono::steady_clock;

  ListingBudget(std::chrono::milliseconds each, std::chrono::milliseconds total) : each_(each), total_(total) {}

  // The time a listing that starts at `now` may take: its own limit, or what
  // is left of the total when that is less; zero once the total is spent.
  // The total runs from the first listing.
  std::chrono::milliseconds Left(Clock::time_point now);
  // A listing ran out of its time: none is started any more.
  void RanOut() { ran_out_ = true; }

 private:
  std::chrono::milliseconds each_;
  std::chrono::milliseconds total_;
  std::optional<Clock::time_point> end_;
  bool ran_out_ = false;
};

// The availability checks of one port selection. Each runs the connection
// listing for its port and, where needed, reads the system's TCP tables
// (WeighWitnesses); each listing has a time limit, and all of them one
// together (ListingBudget).
class PortAvailability {
 public:
  // `is_service_running` tells whether a Vantic service process runs (a
  // process id of 0 accepts any): what holds a port may be the service.
  explicit PortAvailability(std::function<bool(std::uint32_t)> is_service_running);

  // Whether `port` may be given to the Vantic service: nothing listens on it
  // or is connected through it, or what holds it is the service itself; a
  // free port the system refuses to bind (excluded port ranges) is not.
  // Ports outside 1024..65535 are refused.
  bool IsAvailable(int port);

 private:
  // The listing's verdict; none when it could not be had or its time ran out.
  std::optional<ListingVerdict> JudgeListingOf(int port);

  std::function<bool(std::uint32_t)> is_service_running_;
  ListingBudget budget_;
};

}  // namespace starter::port
