#pragma once
// What the status program found, as plain values: everything the report and
// its verdict are made from, gathered once by the thin Windows part.
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "contract/product_contract.h"
#include "platform/system_error.h"
#include "port/port_holder.h"
#include "port/tcp_table.h"
#include "status/run_history.h"

namespace starter::status {

// A moment as the system keeps file and process times (100 ns since 1601),
// and as a person reads it (local time).
struct Moment {
  std::uint64_t ticks = 0;
  std::string local;  // "2026-12-08 10:00:00"
};

struct FileFacts {
  std::wstring path;
  bool present = false;
  std::optional<platform::SystemError> unreadable;  // neither present nor surely absent
  std::uint64_t size = 0;
  Moment written;
};

struct StoredPort {
  std::optional<std::uint32_t> value;
  std::optional<platform::SystemError> unread;  // why there is no value
};

struct ServiceProcess {
  std::uint32_t process_id = 0;
  Moment started;
  std::wstring command_line;
};

struct Observations {
  // Set when the looking did not end in time: what it was reading then. The
  // rest is then empty.
  std::string unanswered;
  // Set when the report failed (an exception left the looking or the
  // writing): what it was doing and what failed ("the report failed while
  // reading the starter's log: std::bad_alloc"). The rest is then empty.
  std::string failed;
  std::string version;
  Moment now;
  std::wstring install_root;  // empty when the system could not tell
  FileFacts java_runtime;
  FileFacts service_jar;
  StoredPort port_64bit_view;
  StoredPort port_32bit_view;  // the view a 32-bit program sees by default
  std::vector<port::PortListener> listeners;  // on the stored port
  port::OwnerLooks owner_looks;  // what a look found of each named owner of an IPv4 listener
  std::map<std::uint32_t, std::wstring> owner_images;  // the image path of each named owner whose image could be read
  std::optional<platform::SystemError> listeners_unread;
  std::vector<ServiceProcess> services;
  // The java.exe processes whose command line this run cannot read: any of
  // them may be the service.
  std::vector<std::uint32_t> unexamined;
  // Whether this run holds the debug privilege enabled, with which it
  // examines another account's processes; what failed when it could not
  // be enabled (platform::EnableDebugPrivilege).
  platform::Expected<bool> debug_privilege = false;
  std::optional<platform::SystemError> services_unread;
  std::array<FileFacts, contract::kMarkerCount> markers;  // in the order of contract::kMarkerFiles
  std::wstring log_file;
  std::optional<StarterRun> last_run;
  std::vector<StarterRun> history;  // --history: the last completed runs, newest last
  std::optional<platform::SystemError> log_unread;
  // Why the log was not read although it is there: a folder or file of it
  // that the starter would refuse, or anything but a plain file, which
  // another account may have put in its place.
  std::string log_refused;

  FileFacts& ConnectedMarker() { return markers[contract::kConnectedMarkerIndex]; }
  const FileFacts& ConnectedMarker() const { return markers[contract::kConnectedMarkerIndex]; }
};

// Looks at the machine as the starter would, reading only: the install
// tree, ServerPort, the TCP tables, the running processes, the markers and
// the starter's log. Opens no file for writing, writes no registry value and
// starts nothing. `looking_at` names what is being read at each moment, for
// a report that must end before a check that does not answer;
// `debug_privilege` is what enabling it at the program's start came to.
// (Windows only.)
Observations Gather(std::atomic<const char*>& looking_at, const platform::Expected<bool>& debug_privilege);

// Observations holding only the report's version and time, which every
// report shows, whatever else it could see. (Windows only.)
Observations Header();

// Only the starter's log, for --history: the last `runs` completed runs of
// the same bounded tails that Gather reads. (Windows only.)
Observations GatherHistory(std::atomic<const char*>& looking_at, std::size_t runs);

}  // namespace starter::status
