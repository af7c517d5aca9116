#include "port/port_availability.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace starter::port {
namespace {

using Ask = ListingVerdict::Ask;
using std::chrono::milliseconds;
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

// The tables stand in for a listing that could not be had and check one that
// finds the port free. A listener there is judged by its owner; one the
// tables cannot name (every owner under wine) is a service only while one runs.
TEST(WeighWitnesses, TheTablesDecideWithoutAListingAndWhereItFindsThePortFree) {
  const std::optional<ListingVerdict> none;
  const ListingVerdict free{Ask::kNothing, 0}, connected{Ask::kAnyService, 0};
  const ListingVerdict service{Ask::kOwner, 812}, system{Ask::kOwner, 4}, unnamed{Ask::kOwner, 0};
  const struct Case {
    std::optional<ListingVerdict> listing, tables;
    std::uint32_t running_service;  // 0: none runs
    bool available, tables_asked;
  } cases[] = {
      {none, service, 812, true, true},    {none, system, 812, false, true},
      {none, unnamed, 812, true, true},    {none, unnamed, 0, false, true},
      {none, connected, 0, false, true},   {none, free, 0, true, true},
      {none, none, 812, false, true},      {free, unnamed, 0, false, true},
      {free, unnamed, 812, true, true},    {free, system, 812, false, true},
      {free, connected, 0, true, true},    {free, none, 0, true, true},
      {service, free, 812, true, false},   {system, service, 812, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    const AvailabilityProbes probes = {
        [&](std::uint32_t id) { return c.running_service != 0 && (id == 0 || id == c.running_service); },
        [](std::uint16_t) { return false; }, [](std::uint16_t) { return kBound; }};
    bool asked = false;
    const std::optional<ListingVerdict> decided = WeighWitnesses(c.listing, [&] {
      asked = true;
      return c.tables;
    });
    EXPECT_EQ(decided && DecideAvailability(*decided, 9673, probes), c.available);
    EXPECT_EQ(asked, c.tables_asked);
  }
}

// A read of the tables takes seconds on a busy machine: one check reads them
// once, whether it asks who listens, whether a connection is established, or
// both, and a read that failed is not tried again within the check.
TEST(TablesOfOneCheck, ReadsOnFirstNeedAndNeverAgain) {
  int reads = 0;
  TablesOfOneCheck tables([&]() -> platform::Expected<TcpTables> {
    ++reads;
    return TcpTables{{1, 0, 0, 0}, {}};
  });
  EXPECT_EQ(reads, 0);
  EXPECT_EQ(tables.Get()->v4.size(), 4u);
  EXPECT_EQ(tables.Get()->v4.size(), 4u);
  EXPECT_EQ(reads, 1);

  int failed_reads = 0;
  TablesOfOneCheck unreadable([&]() -> platform::Expected<TcpTables> {
    ++failed_reads;
    return platform::SystemError{"GetExtendedTcpTable", 122};
  });
  EXPECT_FALSE(unreadable.Get());
  EXPECT_EQ(unreadable.Get().error().code, 122u);
  EXPECT_EQ(failed_reads, 1);
}

TEST(ListingBudget, EachListingGetsItsLimitOrWhatIsLeftOfTheTotalUntilOneRunsOut) {
  const ListingBudget::Clock::time_point start{std::chrono::seconds(1000)};
  ListingBudget budget(milliseconds(5000), milliseconds(10000));
  // The total runs from the first listing, not from the budget's making.
  EXPECT_EQ(budget.Left(start + milliseconds(60000)), milliseconds(5000));
  EXPECT_EQ(budget.Left(start + milliseconds(66200)), milliseconds(3800));
  EXPECT_EQ(budget.Left(start + milliseconds(70000)), milliseconds(0));
  ListingBudget held_up(milliseconds(5000), milliseconds(10000));
  EXPECT_EQ(held_up.Left(start), milliseconds(5000));
  held_up.RanOut();
  EXPECT_EQ(held_up.Left(start + milliseconds(5000)), milliseconds(0));
}

}  // namespace
}  // namespace starter::port
