#pragma once
// What the port tests under wine need around the code under test: the netstat
// and findstr stand-ins first on PATH showing a chosen listing, and a process
// that the service detection takes for a running Vantic service.
#include <windows.h>

#include <ws2tcpip.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/winsock.h"

namespace starter::test {

// Sets an environment variable of this process (and so of the commands it
// starts) for the life of the object, then restores it.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const std::wstring& name, const std::wstring& value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> saved_;
};

// Puts the stand-ins first on PATH; "netstat -ano" then prints the rows last
// given to ShowListing (CR LF line ends expected), none before that, or the
// machine's own table after ShowMachineTable. Neither this nor the service
// below can be copied: their members cannot.
class StandinListing {
 public:
  StandinListing();
  ~StandinListing();

  void ShowListing(const std::string& rows);
  void ShowMachineTable();

 private:
  std::wstring listing_path_;
  ScopedEnvironmentVariable path_;
  ScopedEnvironmentVariable listing_;
};

// A process named java.exe whose command line names Vantic.jar, alive until
// the object goes. It is the findstr stand-in, kept waiting on its input.
class FakeVanticService {
 public:
  FakeVanticService();
  ~FakeVanticService();

  std::uint32_t ProcessId() const { return process_id_; }

 private:
  std::wstring folder_;
  platform::UniqueHandle input_;
  platform::UniqueHandle process_;
  std::uint32_t process_id_ = 0;
};

// Listens on `address` (IPv6 sockets only for IPv6) and returns the local
// port, or 0 when the address cannot be used here.
std::uint16_t Listen(platform::UniqueSocket& socket, const sockaddr* address, int length);
// Listens on an ephemeral port of an IPv4 address given in host order.
std::uint16_t ListenV4(platform::UniqueSocket& socket, ULONG address);
std::uint16_t LocalPort(const platform::UniqueSocket& socket);

// `count` TCP connections on the loopback address, both ends held by this
// process, open while the object lives: a busy machine as the TCP tables
// show it (each connection is two established rows). They end with a reset,
// leaving nothing behind in the tables. Needs Winsock started.
class LoopbackConnections {
 public:
  explicit LoopbackConnections(int count);

  // How many connections were made; fewer than asked when the system refused more.
  int Count() const { return static_cast<int>(ends_.size() / 2); }

 private:
  platform::UniqueSocket listener_;
  std::vector<platform::UniqueSocket> ends_;
};

// `count` loopback connections held by a Linux program
// (linux_connection_holder.py) beside this prefix's Windows programs, while
// the object lives. The tables of wine 8 list them; those of wine 10 list only
// wine programs' sockets. Start it before this process opens a socket: a
// Linux program started from here inherits this process's descriptors.
class LinuxConnections {
 public:
  explicit LinuxConnections(int count);
  ~LinuxConnections();
  LinuxConnections(const LinuxConnections&) = delete;
  LinuxConnections& operator=(const LinuxConnections&) = delete;

  // How many connections were made; fewer than asked when the system refused more.
  int Count() const { return count_; }

 private:
  std::wstring ready_file_;  // the holder's, in Windows spelling
  int count_ = 0;
};

// `count` loopback connections on the machine: up to kHeldHere of them held
// by this process and up to kHeldInPrefix in all by Windows programs (the
// rest of them by a connection_holder process it starts, since one process
// may hold at most 20,000 descriptors on the test machines), and past that by
// a Linux program: wine's server holds a descriptor for every socket of a
// prefix, under the same 20,000. Systems that list only their own programs'
// sockets (wine 10) list the Windows programs' ones. Needs Winsock started.
class BusyMachine {
 public:
  static constexpr int kHeldHere = 6000;
  static constexpr int kHeldInPrefix = 9500;

  explicit BusyMachine(int count);
  ~BusyMachine();
  BusyMachine(const BusyMachine&) = delete;
  BusyMachine& operator=(const BusyMachine&) = delete;

  // How many connections are open; fewer than asked when the system refused more.
  int Count() const { return (linux_ ? linux_->Count() : 0) + held_by_holder_ + here_->Count(); }

 private:
  void StartHolder(int count);

  std::optional<LinuxConnections> linux_;
  platform::UniqueHandle holder_input_;
  platform::UniqueHandle holder_;
  int held_by_holder_ = 0;
  std::optional<LoopbackConnections> here_;  // made once the holders run
};

}  // namespace starter::test
