#include "port/port_selection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "port/scripted_steps.h"
#include "support/log_capture.h"

namespace starter::port {
namespace {

using Ask = ListingVerdict::Ask;
using ::testing::ElementsAre;
// What a bind answers: bound, refused (an excluded port range), or in use.
const platform::Status kBound;
const platform::Status kRefused = platform::SystemError{"bind", platform::kWsaAccessDenied};
const platform::Status kFailed = platform::SystemError{"bind", 10048};

// The scripted machine, with a listing that judges every port with one verdict.
struct OneListing final : PortSelectionSteps {
  explicit OneListing(std::optional<ListingVerdict> verdict, test::ScriptedSteps& machine)
      : verdict_(verdict), machine_(machine) {}
  platform::Expected<std::uint32_t> ReadStored() override { return machine_.ReadStored(); }
  platform::Status WriteStored(std::uint32_t port) override { return machine_.WriteStored(port); }
  std::optional<ListingVerdict> Listing(int) override { return verdict_; }
  platform::Expected<TcpTables> Tables(TableRows rows) override { return machine_.Tables(rows); }
  platform::Status TryBind(std::uint16_t port) override { return machine_.TryBind(port); }

 private:
  std::optional<ListingVerdict> verdict_;
  test::ScriptedSteps& machine_;
};

struct DecisionCase {
  ListingVerdict verdict;
  bool service_running;
  bool connected;  // an established connection in the system's tables
  platform::Status bind;
  bool available;
  std::vector<std::string> asked;  // the machine's questions, in order
};

// A listing that finds the port free is checked against the listeners only;
// every row of the tables is read only for connections printed in the
// system's language.
TEST(IsPortAvailable, BindsOnlyWhatTheListingFindsFreeAndOnlyARefusalCounts) {
  const DecisionCase cases[] = {
      {{Ask::kNothing, std::nullopt}, false, false, kBound, true, {"listeners", "bind"}},
      {{Ask::kNothing, std::nullopt}, true, true, kRefused, false, {"listeners", "bind"}},
      {{Ask::kNothing, std::nullopt}, false, false, kFailed, true, {"listeners", "bind"}},
      {{Ask::kOwner, 812}, true, false, kRefused, true, {"look 812"}},
      {{Ask::kOwner, 4}, false, false, kBound, false, {"look 4"}},
      // An owner this account cannot examine (5151) may be any program: it
      // keeps the port, a service running or not, unlike one the system
      // does not name.
      {{Ask::kOwner, 5151}, true, false, kRefused, false, {"look 5151"}},
      {{Ask::kOwner, 5151}, false, false, kBound, false, {"look 5151"}},
      {{Ask::kOwner, std::nullopt}, true, false, kRefused, true, {"any service"}},
      {{Ask::kAnyService, std::nullopt}, false, false, kBound, false, {"any service"}},
      {{Ask::kConnectionTables, std::nullopt}, false, true, kBound, false, {"all", "any service"}},
      {{Ask::kConnectionTables, std::nullopt}, true, true, kRefused, true, {"all", "any service"}},
      {{Ask::kConnectionTables, std::nullopt}, true, false, kBound, true, {"all", "bind"}},
      {{Ask::kConnectionTables, std::nullopt}, true, false, kRefused, false, {"all", "bind"}},
  };
  for (const DecisionCase& c : cases) {
    SCOPED_TRACE(&c - cases);
    test::ScriptedSteps machine;
    machine.service_running = [&](std::uint32_t) { return c.service_running; };
    machine.unexamined = {5151};
    machine.connected = c.connected;
    machine.bind = c.bind;
    OneListing steps(c.verdict, machine);
    EXPECT_EQ(IsPortAvailable(steps, machine, 9673), c.available);
    EXPECT_EQ(machine.asked, c.asked);
  }
}

// Without a process list no owner is known to be the service, not even one
// that is: the port is not available, and the failure is logged, whether it
// was the look at the owner or the search for any service.
TEST(IsPortAvailable, NoProcessListLeavesNoPortToAnOwner) {
  for (const ListingVerdict verdict : {ListingVerdict{Ask::kOwner, 812}, ListingVerdict{Ask::kOwner, std::nullopt}}) {
    test::ScriptedSteps machine;
    machine.service_running = [](std::uint32_t) { return true; };
    machine.processes_unreadable = true;
    test::LogCapture log;
    OneListing steps(verdict, machine);
    EXPECT_FALSE(IsPortAvailable(steps, machine, 9673));
    EXPECT_EQ(machine.asked.size(), 1u);
    EXPECT_THAT(log.Lines(), ElementsAre("info: CreateToolhelp32Snapshot GLE=5"));
  }
}

// The tables stand in for a listing that could not be had and check one that
// finds the port free. A listener there is judged by its owner; one the
// tables cannot name (every owner under wine) is a service only while one
// runs. Each kind of read happens at most once in a check, and every row is
// read only when the listeners cannot decide.
TEST(IsPortAvailable, TheTablesDecideWithoutAListingAndWhereItFindsThePortFree) {
  const std::optional<ListingVerdict> none;
  const ListingVerdict free{Ask::kNothing, std::nullopt}, service{Ask::kOwner, 812}, system{Ask::kOwner, 4};
  // The tables: a listener's owner, an established connection, or unreadable.
  enum Tables { kService, kSystem, kUnnamed, kConnected, kFree, kUnreadable };
  const struct Case {
    std::optional<ListingVerdict> listing;
    Tables tables;
    std::uint32_t running_service;  // 0: none runs
    bool available, tables_asked, all_rows_read;
  } cases[] = {
      {none, kService, 812, true, true, false},     {none, kSystem, 812, false, true, false},
      {none, kUnnamed, 812, true, true, false},     {none, kUnnamed, 0, false, true, false},
      {none, kConnected, 0, false, true, true},     {none, kFree, 0, true, true, true},
      {none, kUnreadable, 812, false, true, false}, {free, kUnnamed, 0, false, true, false},
      {free, kUnnamed, 812, true, true, false},     {free, kSystem, 812, false, true, false},
      {free, kConnected, 0, true, true, false},     {free, kUnreadable, 0, true, true, false},
      {service, kFree, 812, true, false, false},    {system, kService, 812, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    test::ScriptedSteps machine;
    machine.service_running = [&](std::uint32_t id) {
      return c.running_service != 0 && (id == 0 || id == c.running_service);
    };
    if (c.tables == kService) machine.listener = 812;
    if (c.tables == kSystem) machine.listener = 4;
    if (c.tables == kUnnamed) machine.listener = 0;
    machine.connected = c.tables == kConnected;
    machine.tables_unreadable = c.tables == kUnreadable;
    OneListing steps(c.listing, machine);
    EXPECT_EQ(IsPortAvailable(steps, machine, 9673), c.available);
    const auto reads = [&](const char* kind) { return std::count(machine.asked.begin(), machine.asked.end(), kind); };
    EXPECT_EQ(reads("listeners"), c.tables_asked ? 1 : 0);
    EXPECT_EQ(reads("all"), c.all_rows_read ? 1 : 0);
  }
}

// Ports a service may be given are 1024..65535: others are refused unasked.
TEST(IsPortAvailable, AcceptsExactly1024To65535) {
  for (int port : {1024, 1025, 9673, 65535}) {
    test::ScriptedSteps steps;
    test::LogCapture log;
    EXPECT_TRUE(IsPortAvailable(steps, steps, port)) << port;
    EXPECT_THAT(steps.listed, ElementsAre(port));
  }
  for (int port : {-1, 0, 80, 1023, 65536, 2147483647, -2147483647 - 1}) {
    test::ScriptedSteps steps;
    test::LogCapture log;
    EXPECT_FALSE(IsPortAvailable(steps, steps, port)) << port;
    EXPECT_TRUE(steps.listed.empty() && steps.asked.empty()) << port;
    EXPECT_THAT(log.Lines(), ElementsAre("info: Invalid start port: " + std::to_string(port)));
  }
}

}  // namespace
}  // namespace starter::port
