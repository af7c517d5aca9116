#pragma once
// Choosing the port for the Vantic service: reading the text of
// "netstat -ano | findstr <port>", deciding whether a port is usable from the
// listing and the system's TCP tables, and the walk over the service range
// that stores the choice. The decisions run over the steps of one selection
// (PortSelectionSteps), so every way through them runs against scripted
// answers; server_port_win.cpp holds the machine's steps.
//
// findstr keeps every line holding the port's digits anywhere (19673 for
// 9673, a remote address, an owner id), so the rows are read exactly here:
// only TCP rows whose local address ends in ":<port>" have a say.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system_error.h"
#include "port/port_holder.h"
#include "port/tcp_table.h"

namespace starter::port {

// "netstat -ano | findstr " followed by the port's decimal digits.
std::string AvailabilityCommandLine(int port);

// The interpreter's command line for `command_line`: "cmd.exe /d /c " and the
// command. /d keeps the machine's and the user's Command Processor AutoRun
// commands out: a slow one would cost every listing its time limit, a cd or
// chcp would change where netstat and findstr are found or the console's
// code page, and under an elevated starter the user's own would run elevated.
std::wstring InterpreterCommandLine(const std::wstring& command_line);

// Appends what remains of `stream` (the listing's output) to `output`, read
// in pieces of 500 bytes, to its end; the runtime's errno when the stream
// reports an error, and what was read before the error stays in `output`.
// Logs nothing: the caller's "read pipe error" comes once the read's watch
// has stopped.
platform::Status AppendStreamOutput(std::FILE* stream, std::string& output);

// Which question about the Vantic service, if any, settles whether the port is usable.
struct ListingVerdict {
  enum class Ask {
    kNothing,     // no row listens on the port or is connected through it: usable
    kOwner,       // a row listens: usable exactly when its owner is the service
    kAnyService,  // only connections: usable exactly when some service runs
    // Only connections whose state is printed in the system's language: as
    // kAnyService when the system's TCP tables hold an established
    // connection on the port, as kNothing otherwise.
    kConnectionTables,
  };
  Ask ask = Ask::kNothing;
  std::optional<std::uint32_t> owner_id;  // for Ask::kOwner; none when the row names no owner
};

// The first listening row for `port` decides: its state is LISTENING or its
// foreign address is the wildcard 0.0.0.0:0 or [::]:0, the one a listener
// shows whatever language the states are printed in. Without one, any
// ESTABLISHED row does, then any row with a state word netstat does not print
// in English. Other English states and UDP rows never count. The owner is the
// last column: a translated state may be more than one word.
ListingVerdict JudgeListing(std::string_view listing, int port);

// What the tables say of `port`, in the terms a listing is judged in: the
// first row listening on it (IPv4 rows first, as netstat prints them) asks
// for its owner, if the system names one; without one, an established
// connection through it asks for any service; else nothing.
ListingVerdict JudgeTcpTables(const TcpTables& tables, std::uint16_t port);

// What binding a socket to the port, and closing it at once, came to. A port
// the system reserves (excluded port ranges of Hyper-V, WSL2 or Docker)
// appears in no listing, and only a refused bind tells it apart from a free one.
enum class BindOutcome {
  kBound,
  kRefused,  // WSAEACCES: the system keeps the port from programs (excluded port ranges)
  kFailed,   // any other failure, including one to set the socket up
};

// The fixed lines of a refused write of ServerPort, with the registry's
// result: the key that could not be created or opened (`created`: the call
// had made the key before it failed), and the value that could not be set.
void LogKeyRefused(bool created, std::int32_t result);
void LogValueRefused(std::int32_t result);

// The questions one port selection asks of the machine.
class PortSelectionSteps {
 public:
  virtual ~PortSelectionSteps() = default;
  // ServerPort as stored; none when it cannot be read (the step logs why).
  virtual std::optional<std::uint32_t> ReadStored() = 0;
  // Stores ServerPort; false when it was not stored (the step logs why).
  virtual bool WriteStored(std::uint32_t port) = 0;
  // The listing's verdict on `port`; none when it could not be had (the
  // interpreter did not start, the pipe could not be read, the time ran out).
  virtual std::optional<ListingVerdict> Listing(int port) = 0;
  // The system's TCP tables: the listeners only, or every row.
  virtual platform::Expected<TcpTables> Tables(TableRows rows) = 0;
  virtual BindOutcome TryBind(std::uint16_t port) = 0;
  // A look at the processes that hold the port (port_holder.h); what failed
  // when the process list cannot be read.
  virtual platform::Expected<OwnerLooks> LookAt(const std::vector<std::uint32_t>& process_ids) = 0;
  // Whether some process is known to be a Vantic service.
  virtual bool ServiceRunning() = 0;
};

// Whether `port` may be given to the Vantic service: nothing listens on it or
// is connected through it, or what holds it is the service itself; a free
// port the system refuses to bind (excluded port ranges) is not. Ports
// outside 1024..65535 are refused. A listener's owner decides as
// OwnerLeavesPortToService says; connections alone give the port up while a
// Vantic service is known to run: the service may hold it, and the port it
// holds is the one to keep.
//
// Two witnesses: the listing, and the system's TCP tables, read only when
// needed. Without a listing the tables decide. A listing that finds the port
// free is checked against the listeners' table: one that failed inside the
// interpreter prints nothing, so a listener there decides then. Every row of
// the tables is read only where the listeners cannot decide: for an
// established connection, when there is no listing, or when the listing
// shows connections in the system's language only. A port found free is
// bound once.
bool IsPortAvailable(PortSelectionSteps& steps, int port);

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

// Starts at the stored port (9673 when none is stored or it lies outside
// 9673..9700) and tries each port of the range once, wrapping from 9700 to
// 9673. The first usable port, or 0 when there is none, is stored and
// returned. When it cannot be stored, a port of the range that ServerPort
// still holds is returned instead, with a warning: the service will use it.
// Standard exceptions from reading or writing are logged and absorbed; those
// from the availability check pass through.
std::uint16_t SelectPortWith(PortSelectionSteps& steps);

}  // namespace starter::port
