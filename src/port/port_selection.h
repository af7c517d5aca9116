#pragma once
// Choosing the port for the Vantic service: whether a port is usable, judged
// from the connection listing and the system's TCP tables, and the walk over
// the service range that stores the choice. The decisions run over the
// steps of one selection (PortSelectionSteps) and the one seam that looks at
// processes (service::Processes), so every way through them runs against
// scripted answers; port_selection_win.cpp holds the machine's steps.
#include <cstdint>
#include <optional>

#include "platform/system_error.h"
#include "port/netstat_listing.h"
#include "port/tcp_table.h"
#include "service/process_detection.h"

namespace starter::port {

// What the tables say of `port`, in the terms a listing is judged in: the
// first row listening on it (IPv4 rows first, as netstat prints them) asks
// for its owner, if the system names one; without one, an established
// connection through it asks for any service; else nothing.
ListingVerdict JudgeTcpTables(const TcpTables& tables, std::uint16_t port);

// The questions one port selection asks of the machine. Each answers what
// failed and logs nothing, but the listing, whose lines wait for the end of
// its time limit's watch (command_output.h).
class PortSelectionSteps {
 public:
  virtual ~PortSelectionSteps() = default;
  // ServerPort as stored (server_port.h: ReadServerPort's answer).
  virtual platform::Expected<std::uint32_t> ReadStored() = 0;
  // Stores ServerPort (server_port.h: WriteServerPort's answer).
  virtual platform::Status WriteStored(std::uint32_t port) = 0;
  // The listing's verdict on `port`; none when it could not be had (the
  // interpreter did not start, the pipe could not be read, the time ran out).
  virtual std::optional<ListingVerdict> Listing(int port) = 0;
  // The system's TCP tables: the listeners only, or every row.
  virtual platform::Expected<TcpTables> Tables(TableRows rows) = 0;
  // Binds a socket to the port and closes it at once. A port the system
  // reserves (excluded port ranges of Hyper-V, WSL2 or Docker) appears in no
  // listing, and only a refused bind (platform::kWsaAccessDenied) tells it
  // apart from a free one.
  virtual platform::Status TryBind(std::uint16_t port) = 0;
};

// Whether `port` may be given to the Vantic service: nothing listens on it or
// is connected through it, or what holds it is the service itself; a free
// port the system refuses to bind (excluded port ranges) is not. Ports
// outside 1024..65535 are refused. A listener's owner, looked at through
// `processes`, decides as OwnerLeavesPortToService says; connections alone
// give the port up while a Vantic service is known to run: the service may
// hold it, and the port it holds is the one to keep. Without a process list
// no service is known: the failure is logged.
//
// Two witnesses: the listing, and the system's TCP tables, read only when
// needed. Without a listing the tables decide. A listing that finds the port
// free is checked against the listeners' table: one that failed inside the
// interpreter prints nothing, so a listener there decides then. Every row of
// the tables is read only where the listeners cannot decide: for an
// established connection, when there is no listing, or when the listing
// shows connections in the system's language only. A port found free is
// bound once.
bool IsPortAvailable(PortSelectionSteps& steps, service::Processes& processes, int port);

// Starts at the stored port (9673 when none is stored or it lies outside
// 9673..9700) and tries each port of the range once, wrapping from 9700 to
// 9673. The first usable port, or 0 when there is none, is stored and
// returned. When it cannot be stored, a port of the range that ServerPort
// still holds is returned instead, with a warning: the service will use it.
// What the registry answers is logged in its fixed lines; an exception of a
// step passes through, to the run's end, which answers the caller.
std::uint16_t SelectPortWith(PortSelectionSteps& steps, service::Processes& processes);

// --- The machine (Windows) ---------------------------------------------------

// The machine's steps of one selection: the registry in its 64-bit view, the
// connection listing run through the system's interpreter within the
// selection's ListingBudget, the system's TCP tables, and a bind on the
// loopback address.
class MachinePortSteps final : public PortSelectionSteps {
 public:
  MachinePortSteps();

  platform::Expected<std::uint32_t> ReadStored() override;
  platform::Status WriteStored(std::uint32_t port) override;
  std::optional<ListingVerdict> Listing(int port) override;
  platform::Expected<TcpTables> Tables(TableRows rows) override;
  // An IPv4 TCP socket bound to `port` on the loopback address, with no
  // reuse options, and closed at once. The service listens on IPv4, and a
  // port the system reserves refuses every address: the loopback one answers
  // for all of them without the socket ever being reachable from outside.
  platform::Status TryBind(std::uint16_t port) override;

 private:
  ListingBudget budget_;
};

// Chooses the port for the service in 9673..9700 (0 when none is usable) on
// the machine (SelectPortWith over MachinePortSteps and the machine's
// processes), stores it as ServerPort and returns it; when it cannot be
// stored, returns the port of the range that ServerPort still holds, if any.
std::uint16_t SelectServerPort();

}  // namespace starter::port
