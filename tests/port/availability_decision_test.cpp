#include "port/availability_decision.h"

#include <gtest/gtest.h>

#include <optional>
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

const ListingVerdict kFree{Ask::kNothing, 0};
const ListingVerdict kConnected{Ask::kAnyService, 0};
const ListingVerdict kOwner812{Ask::kOwner, 812};
const ListingVerdict kOwner4{Ask::kOwner, 4};
const ListingVerdict kOwnerUnnamed{Ask::kOwner, 0};

std::optional<Ask> AskOf(const std::optional<ListingVerdict>& verdict) {
  return verdict ? std::optional<Ask>(verdict->ask) : std::nullopt;
}

TEST(WeighWitnesses, TheTablesStandInForAMissingListingAndCheckAFreeOne) {
  const std::optional<ListingVerdict> none;
  const struct Case {
    std::optional<ListingVerdict> listing, tables, decided;
    bool tables_asked;
  } cases[] = {
      {none, kOwner812, kOwner812, true},
      {none, kConnected, kConnected, true},
      {none, kFree, kFree, true},
      {none, none, none, true},
      {kFree, kOwnerUnnamed, kOwnerUnnamed, true},
      {kFree, kConnected, kFree, true},  // only a listener overrules the listing
      {kFree, none, kFree, true},
      {kOwner4, kOwner812, kOwner4, false},
      {kConnected, kFree, kConnected, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    bool asked = false;
    const std::optional<ListingVerdict> decided = WeighWitnesses(c.listing, [&] {
      asked = true;
      return c.tables;
    });
    EXPECT_EQ(AskOf(decided), AskOf(c.decided));
    if (decided && c.decided) {
      EXPECT_EQ(decided->owner_id, c.decided->owner_id);
    }
    EXPECT_EQ(asked, c.tables_asked);
  }
}

// Whole answers when the tables show a listener: its owner decides, and an
// owner the tables cannot name (every owner under wine) counts as a service
// only while one runs.
TEST(WeighWitnesses, AListenerInTheTablesIsJudgedByItsOwner) {
  const std::optional<ListingVerdict> no_listing;
  const struct Case {
    std::optional<ListingVerdict> listing;
    ListingVerdict tables;
    std::uint32_t running_service;  // 0: none runs
    bool available;
  } cases[] = {
      {no_listing, kOwner812, 812, true},   {no_listing, kOwner4, 812, false},
      {no_listing, kOwnerUnnamed, 812, true}, {no_listing, kOwnerUnnamed, 0, false},
      {kFree, kOwnerUnnamed, 0, false},      {kFree, kOwnerUnnamed, 812, true},
      {kFree, kOwner4, 812, false},          {no_listing, kFree, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    const AvailabilityProbes probes = {
        [&](std::uint32_t id) { return c.running_service != 0 && (id == 0 || id == c.running_service); },
        [](std::uint16_t) { return false; }, [](std::uint16_t) { return kBound; }};
    const std::optional<ListingVerdict> decided = WeighWitnesses(c.listing, [&] { return c.tables; });
    ASSERT_TRUE(decided);
    EXPECT_EQ(DecideAvailability(*decided, 9673, probes), c.available);
  }
}

}  // namespace
}  // namespace starter::port
