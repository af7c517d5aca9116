#include "port/availability_decision.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace starter::port {
namespace {

using ::testing::ElementsAreArray;
using Ask = ListingVerdict::Ask;

// Scripted answers of the machine, and the questions asked, in order.
struct FakeMachine {
  bool service_running = false;
  bool connected = false;
  BindOutcome bind = BindOutcome::kBound;
  std::vector<std::string> asked;

  AvailabilityProbes Probes() {
    return {[this](std::uint32_t id) {
              asked.push_back("service " + std::to_string(id));
              return service_running;
            },
            [this](std::uint16_t port) {
              asked.push_back("tables " + std::to_string(port));
              return connected;
            },
            [this](std::uint16_t port) {
              asked.push_back("bind " + std::to_string(port));
              return bind;
            }};
  }
};

struct DecisionCase {
  const char* name;
  ListingVerdict verdict;
  bool service_running;
  bool connected;
  BindOutcome bind;
  bool available;
  std::vector<std::string> asked;
};

TEST(DecideAvailability, BindsOnlyWhatTheListingFindsFreeAndOnlyARefusalCounts) {
  const DecisionCase cases[] = {
      {"free and bound", {Ask::kNothing, 0}, false, false, BindOutcome::kBound, true, {"bind 9673"}},
      {"free but reserved by the system", {Ask::kNothing, 0}, true, true, BindOutcome::kRefused,
       false, {"bind 9673"}},
      {"free, bind failed otherwise", {Ask::kNothing, 0}, false, false, BindOutcome::kFailed, true,
       {"bind 9673"}},
      {"listener is the service", {Ask::kOwner, 812}, true, false, BindOutcome::kRefused, true,
       {"service 812"}},
      {"listener is another program", {Ask::kOwner, 4}, false, false, BindOutcome::kBound, false,
       {"service 4"}},
      {"established, a service runs", {Ask::kAnyService, 0}, true, false, BindOutcome::kRefused,
       true, {"service 0"}},
      {"established, no service", {Ask::kAnyService, 0}, false, false, BindOutcome::kBound, false,
       {"service 0"}},
      {"translated states, tables show a connection", {Ask::kConnectionTables, 0}, false, true,
       BindOutcome::kBound, false, {"tables 9673", "service 0"}},
      {"translated states, connection of a running service", {Ask::kConnectionTables, 0}, true,
       true, BindOutcome::kRefused, true, {"tables 9673", "service 0"}},
      {"translated states, nothing established", {Ask::kConnectionTables, 0}, false, false,
       BindOutcome::kBound, true, {"tables 9673", "bind 9673"}},
      {"translated states, nothing established, reserved", {Ask::kConnectionTables, 0}, true, false,
       BindOutcome::kRefused, false, {"tables 9673", "bind 9673"}},
  };
  for (const DecisionCase& c : cases) {
    FakeMachine machine;
    machine.service_running = c.service_running;
    machine.connected = c.connected;
    machine.bind = c.bind;
    EXPECT_EQ(DecideAvailability(c.verdict, 9673, machine.Probes()), c.available) << c.name;
    EXPECT_THAT(machine.asked, ElementsAreArray(c.asked)) << c.name;
  }
}

}  // namespace
}  // namespace starter::port
