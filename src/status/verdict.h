#pragma once
// The one-line answer of the status report and its exit code, after the
// convention of service status commands.
#include <string>

#include "status/observations.h"

namespace starter::status {

enum class State {
  kReady,         // port listening, service running, connected marker written by it
  kStarting,      // a service runs but is not ready yet, within a starter's whole wait of its start
  kNotReady,      // a service runs, longer than that, and is still not ready
  kNotRunning,    // installed, no service process
  kNotInstalled,  // no install root, runtime or jar
  kUnknown,       // the state could not be read
};

struct Verdict {
  State state = State::kUnknown;
  // Why, for every state but ready: for a service that is not ready, the
  // check that fails in the starter's own words (contract::kPortNotListening
  // and its kind) and what the report found.
  std::string reason;
};

// ready 0, starting or not ready 1, not running 3, not installed or unknown 4.
int ExitCodeOf(State state);
const char* NameOf(State state);

// Whether the connected marker was written by a running service: at or
// after the start of the oldest one. A marker older than every running
// service is a leftover of an earlier one.
bool WrittenByARunningService(const FileFacts& marker, const std::vector<ServiceProcess>& services);

// What the report says of a java.exe whose command line this run cannot
// read, and what would read it, as this run's debug privilege makes true
// (Observations::debug_privilege): a run without it is told that an
// elevated one enables it, and a run that has it enabled is told that even
// it cannot examine the process.
std::string CannotBeExamined(const platform::Expected<bool>& debug_privilege);
// The same, of the java.exe with that process id.
std::string CannotBeExamined(std::uint32_t process_id, const platform::Expected<bool>& debug_privilege);

// Whether reading ServerPort failed, so that the report cannot tell which
// port the starter waits on. A key or value that is not there, and a value
// that is no REG_DWORD, were read: no port is stored.
bool StoredPortUnread(const StoredPort& stored);

// Whether the port listens as the starter judges it: some IPv4 socket
// listens on it. An IPv6 listener alone does not count.
bool ListensForTheStarter(const std::vector<port::PortListener>& listeners);

Verdict JudgeState(const Observations& seen);

}  // namespace starter::status
