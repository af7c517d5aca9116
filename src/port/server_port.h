#pragma once
// The service port as the starter and the Vantic service share it: a port of
// the service range stored as a REG_DWORD in the 64-bit view of the registry
// (contract::kServicePortKey), and the machine's answers to a port
// selection's questions (port_selection.h), the connection listing among
// them, run through the system's interpreter within a time limit. (Windows.)
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/system_error.h"
#include "port/port_selection.h"

namespace starter::port {

// The two views of the registry a 32-bit program can name on 64-bit Windows;
// on 32-bit Windows both name the same keys.
enum class RegistryView { k64Bit, k32Bit };

// ServerPort as stored in one view; what failed when it cannot be read
// (RegOpenKeyExW or RegQueryValueExW with their result, or
// ERROR_DATATYPE_MISMATCH for a value that is no REG_DWORD). Logs nothing.
platform::Expected<std::uint32_t> ReadServerPort(RegistryView view);

// How a read of a command's output ended.
enum class CommandOutput {
  kRead,      // the whole output was read
  kFailed,    // the command could not be started ("popen error") or its output read ("read pipe error")
  kTimedOut,  // the limit passed: the command and all it started were ended
};

// Runs `command_line` through the system's command interpreter (with the
// command line InterpreterCommandLine gives) and appends its whole standard
// output, read in text mode, to `output`. The interpreter is the system
// directory's cmd.exe, run in that directory: a netstat.exe or findstr.exe
// planted in the caller's current folder is never found before the system's
// own. It gets no window and inherits nothing but the pipe of its standard
// output. Once `limit` has passed, the interpreter and every program it
// started are ended and the read ends with what came so far; the caller says
// that it ran out of time.
CommandOutput ReadCommandOutput(const char* command_line, std::string& output, std::chrono::milliseconds limit);

// The machine's steps of one selection: the registry in its 64-bit view, the
// connection listing run through the system's interpreter within the
// selection's ListingBudget, the system's TCP tables, a bind on the loopback
// address, and the service lookup.
class MachinePortSteps final : public PortSelectionSteps {
 public:
  MachinePortSteps();

  std::optional<std::uint32_t> ReadStored() override;
  bool WriteStored(std::uint32_t port) override;
  std::optional<ListingVerdict> Listing(int port) override;
  platform::Expected<TcpTables> Tables(TableRows rows) override;
  // An IPv4 TCP socket bound to `port` on the loopback address, with no
  // reuse options, and closed at once. The service listens on IPv4, and a
  // port the system reserves refuses every address: the loopback one answers
  // for all of them without the socket ever being reachable from outside.
  BindOutcome TryBind(std::uint16_t port) override;
  platform::Expected<OwnerLooks> LookAt(const std::vector<std::uint32_t>& process_ids) override;
  bool ServiceRunning() override;

 private:
  ListingBudget budget_;
};

// Chooses the port for the service in 9673..9700 (0 when none is usable) on
// the machine (SelectPortWith over MachinePortSteps), stores it as ServerPort
// and returns it; when it cannot be stored, returns the port of the range
// that ServerPort still holds, if any.
std::uint16_t SelectServerPort();

}  // namespace starter::port
