#include "port/availability_decision.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace starter::port {
namespace {

using Ask = ListingVerdict::Ask;
constexpr BindOutcome kBound = BindOutcome::kBound;
constexpr BindOutcome kRefused = BindOutcome::kRefused;
constexpr BindOutcome kFailed = BindOutcome::kFailed;

struct DecisionCase {
  ListingVerdict verdict;
  bool service_running;
  bool connected;  // an established connection in the system's tables
  BindOutcome bind;
  bool available;
  std::vector<std::string> asked;  // the machine's questions, in order
};

TEST(DecideAvailability, BindsOnlyWhatTheListingFindsFreeAndOnlyARefusalCounts) {
  const DecisionCase cases[] = {
      {{Ask::kNothing, 0}, false, false, kBound, true, {"bind"}},
      {{Ask::kNothing, 0}, true, true, kRefused, false, {"bind"}},
      {{Ask::kNothing, 0}, false, false, kFailed, true, {"bind"}},
      {{Ask::kOwner, 812}, true, false, kRefused, true, {"service 812"}},
      {{Ask::kOwner, 4}, false, false, kBound, false, {"service 4"}},
      {{Ask::kAnyService, 0}, false, false, kBound, false, {"service 0"}},
      {{Ask::kConnectionTables, 0}, false, true, kBound, false, {"tables", "service 0"}},
      {{Ask::kConnectionTables, 0}, true, true, kRefused, true, {"tables", "service 0"}},
      {{Ask::kConnectionTables, 0}, true, false, kBound, true, {"tables", "bind"}},
      {{Ask::kConnectionTables, 0}, true, false, kRefused, false, {"tables", "bind"}},
  };
  for (const DecisionCase& c : cases) {
    SCOPED_TRACE(&c - cases);
    std::vector<std::string> asked;
    const AvailabilityProbes probes = {[&](std::uint32_t id) {
                                         asked.push_back("service " + std::to_string(id));
                                         return c.service_running;
                                       },
                                       [&](std::uint16_t port) {
                                         asked.push_back("tables");
                                         return port == 9673 && c.connected;
                                       },
                                       [&](std::uint16_t port) {
                                         asked.push_back("bind");
                                         return port == 9673 ? c.bind : kFailed;
                                       }};
    EXPECT_EQ(DecideAvailability(c.verdict, 9673, probes), c.available);
    EXPECT_EQ(asked, c.asked);
  }
}

}  // namespace
}  // namespace starter::port
