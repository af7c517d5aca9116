#pragma once
// The questions of one port selection, and the looks at processes it takes,
// answered from a script and recorded in the order asked.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "port/port_selection.h"
#include "port/server_port.h"
#include "service/process_detection.h"

namespace starter::test {

// An IPv4 table of one row on `port`, as IP Helper lays out rows of type `Row`.
template <typename Row, typename... Owner>
std::vector<unsigned char> OneRowTable(std::uint32_t state, std::uint16_t port, Owner... owner) {
  std::vector<unsigned char> table(sizeof(std::uint32_t) + sizeof(Row));
  const std::uint32_t count = 1;
  std::memcpy(table.data(), &count, sizeof(count));
  Row row{state, 0x0100007F, 0, 0, 0, owner...};
  const unsigned char port_bytes[4] = {static_cast<unsigned char>(port >> 8), static_cast<unsigned char>(port & 0xFF), 0,
                                       0};
  std::memcpy(&row.local_port, port_bytes, sizeof(port_bytes));
  std::memcpy(table.data() + sizeof(count), &row, sizeof(row));
  return table;
}

struct ScriptedSteps final : port::PortSelectionSteps, service::Processes {
  // The registry: what a read answers (no key by default), and a write.
  platform::Expected<std::uint32_t> stored = platform::SystemError{port::kOpenKeyCall, 2};
  platform::Status write_refused;
  bool read_throws = false, write_throws = false;
  bool read_throws_foreign = false;  // something other than a standard exception
  std::vector<std::uint32_t> written;
  // The listing of each port: free unless taken; none for every port when unlisted.
  std::vector<int> taken;
  bool unlisted = false, listing_throws = false;
  std::vector<int> listed;
  // The tables, on port 9673: who listens, whether a connection is established.
  std::optional<std::uint32_t> listener;
  bool connected = false, tables_unreadable = false;
  // The rest of the machine: whether process N is a service (0: whether any
  // is known to run), the processes no look can tell, and whether the
  // process list can be read at all.
  std::function<bool(std::uint32_t)> service_running = [](std::uint32_t) { return false; };
  std::vector<std::uint32_t> unexamined;
  bool processes_unreadable = false;
  platform::Status bind;
  std::vector<std::string> asked;

  platform::Expected<std::uint32_t> ReadStored() override {
    if (read_throws) throw std::runtime_error("registry gone");
    if (read_throws_foreign) throw 42;
    return stored;
  }
  platform::Status WriteStored(std::uint32_t value) override {
    if (write_throws) throw std::runtime_error("access denied");
    written.push_back(value);
    return write_refused;
  }
  std::optional<port::ListingVerdict> Listing(int port) override {
    listed.push_back(port);
    if (listing_throws) throw std::runtime_error("no interpreter");
    if (unlisted) return std::nullopt;
    const bool is_taken = std::find(taken.begin(), taken.end(), port) != taken.end();
    return port::ListingVerdict{is_taken ? port::ListingVerdict::Ask::kOwner : port::ListingVerdict::Ask::kNothing, 4};
  }
  platform::Expected<port::TcpTables> Tables(port::TableRows rows) override {
    const bool all = rows == port::TableRows::kAll;
    asked.push_back(all ? "all" : "listeners");
    if (tables_unreadable) return platform::SystemError{"GetExtendedTcpTable", 50};
    port::TcpTables tables;
    tables.rows = rows;
    if (all && connected) tables.v4 = OneRowTable<port::TcpBasicRowImage>(port::kTcpStateEstablished, 9673);
    else if (listener) tables.v4 = OneRowTable<port::TcpRowImage>(port::kTcpStateListen, 9673, *listener);
    return tables;
  }
  // Any other port is in use (WSAEADDRINUSE).
  platform::Status TryBind(std::uint16_t port) override {
    asked.push_back("bind");
    return port == 9673 ? bind : platform::SystemError{"bind", 10048};
  }
  platform::Expected<service::ProcessLooks> LookAt(const std::vector<std::uint32_t>& process_ids) override {
    if (processes_unreadable) {
      asked.push_back("look");
      return platform::SystemError{"CreateToolhelp32Snapshot", 5};
    }
    service::ProcessLooks looks;
    for (std::uint32_t id : process_ids) {
      asked.push_back("look " + std::to_string(id));
      const bool unreadable = std::find(unexamined.begin(), unexamined.end(), id) != unexamined.end();
      looks[id].identity = unreadable              ? service::Identity::kCannotTell
                           : service_running(id) ? service::Identity::kService
                                                 : service::Identity::kOtherProgram;
    }
    return looks;
  }
  platform::Expected<service::ServiceSearch> FindService() override {
    asked.push_back("any service");
    if (processes_unreadable) return platform::SystemError{"CreateToolhelp32Snapshot", 5};
    return service_running(0) ? service::ServiceSearch::kFound : service::ServiceSearch::kNotFound;
  }
};

}  // namespace starter::test
