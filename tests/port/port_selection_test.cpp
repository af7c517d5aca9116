// The walk over the service range and the stored port around it, on
// scripted steps: where the walk starts, what it stores, and the registry's
// fixed lines when ServerPort cannot be read or written.
#include "port/port_selection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "port/scripted_steps.h"
#include "port/server_port.h"
#include "support/log_capture.h"

namespace starter::port {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using FakeWorld = test::ScriptedSteps;

// A refused write: the key that cannot be created (a standard user's).
const platform::SystemError kKeyRefused{kCreateKeyCall, 5};

// Ports first..last: a setting of taken ports, never an expected order.
std::vector<int> Range(int first, int last) {
  std::vector<int> ports;
  for (int port = first; port <= last; ++port) ports.push_back(port);
  return ports;
}

struct WalkCase {
  std::optional<std::uint32_t> stored;
  std::vector<int> taken;
  std::vector<int> checks;  // in the order made, written out
  int chosen;
};

TEST(SelectPortWith, WalksFromTheStoredPortAndStoresTheChoice) {
  const std::vector<WalkCase> cases = {
      {9690, {}, {9690}, 9690},
      {9700, {9700}, {9700, 9673}, 9673},
      {9680, Range(9680, 9700),
       {9680, 9681, 9682, 9683, 9684, 9685, 9686, 9687, 9688, 9689, 9690,
        9691, 9692, 9693, 9694, 9695, 9696, 9697, 9698, 9699, 9700, 9673},
       9673},
      {9690, Range(9600, 9800),
       {9690, 9691, 9692, 9693, 9694, 9695, 9696, 9697, 9698, 9699, 9700, 9673, 9674, 9675,
        9676, 9677, 9678, 9679, 9680, 9681, 9682, 9683, 9684, 9685, 9686, 9687, 9688, 9689},
       0},
      // No key starts the walk at 9673 with its line; unusable stored
      // values do without a word.
      {std::nullopt, {}, {9673}, 9673},
      {9672, {}, {9673}, 9673},
      {9701, {}, {9673}, 9673},
      {0, {}, {9673}, 9673},
      {4294967295u, {}, {9673}, 9673},
      {2147483648u, {9673}, {9673, 9674}, 9674},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.stored.value_or(0));
    FakeWorld world;
    if (c.stored) world.stored = *c.stored;
    world.taken = c.taken;
    test::LogCapture log;
    EXPECT_EQ(SelectPortWith(world, world), c.chosen);
    EXPECT_THAT(world.listed, ElementsAreArray(c.checks));
    EXPECT_THAT(world.written, ElementsAre(static_cast<std::uint32_t>(c.chosen)));
    std::vector<std::string> lines;
    if (!c.stored) lines.push_back("info: RegOpenKeyEx Error: 2");
    for (int port : c.checks)
      if (port != c.chosen)
        lines.push_back("info: port " + std::to_string(port) + " is not available");
    if (c.chosen == 0) lines.push_back("info: ports between [9673, 9700] are all used");
    EXPECT_THAT(log.Lines(), ElementsAreArray(lines));
  }
}

// A key that cannot be opened and a value that cannot be read have their
// lines; a value of another type is passed over without a word. The walk
// starts at 9673 all the same.
TEST(SelectPortWith, AStoredPortThatCannotBeReadIsLoggedAndTheWalkStartsAt9673) {
  const struct Case {
    platform::SystemError unread;
    std::vector<std::string> lines;
  } cases[] = {
      {{kOpenKeyCall, 5}, {"info: RegOpenKeyEx Error: 5", "info: port 9673 is not available"}},
      {{kQueryValueCall, 2}, {"info: RegQueryValueEx Error: 2", "info: port 9673 is not available"}},
      {{kQueryValueCall, platform::kErrorDatatypeMismatch}, {"info: port 9673 is not available"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Describe(c.unread));
    FakeWorld world;
    world.stored = c.unread;
    world.taken = {9673};
    test::LogCapture log;
    EXPECT_EQ(SelectPortWith(world, world), 9674);
    EXPECT_THAT(log.Lines(), ElementsAreArray(c.lines));
    EXPECT_THAT(world.written, ElementsAre(9674u));
  }
}

TEST(SelectPortWith, FailedWriteStillReturnsTheChosenPort) {
  FakeWorld refused;
  refused.stored = 9700;
  refused.write_refused = kKeyRefused;
  test::LogCapture refused_log;
  EXPECT_EQ(SelectPortWith(refused, refused), 9700);
  EXPECT_THAT(refused_log.Lines(),
              ElementsAre("info: RegCreateKeyEx open key failed, result: 5", "info: write ServerPort error",
                          "warning: ServerPort not written: the service will use the stored port 9700"));
}

// As for a standard user, whose write to HKLM is refused (error 5): the
// service reads what ServerPort already holds, so that port is the one used.
// The fallback reads ServerPort afresh, so a key that is not there says so
// twice: once before the walk and once after the refused write.
TEST(SelectPortWith, RefusedWriteFallsBackToAUsableStoredPort) {
  const std::string kWarning = "warning: ServerPort not written: the service will use the stored port ";
  const std::string kTaken = "info: port 9690 is not available";
  const std::string kRefused = "info: RegCreateKeyEx open key failed, result: 5";
  const std::string kNoKey = "info: RegOpenKeyEx Error: 2";
  struct RefusedCase {
    std::optional<std::uint32_t> stored;
    int used;
    std::vector<std::string> lines;
  } cases[] = {
      {9690, 9690, {kTaken, kRefused, "info: write ServerPort error", kWarning + "9690"}},
      {std::nullopt, 9673, {kNoKey, kRefused, "info: write ServerPort error", kNoKey}},
      {9701, 9673, {kRefused, "info: write ServerPort error"}},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.stored.value_or(0));
    FakeWorld world;
    if (c.stored) world.stored = *c.stored;
    world.taken = {9690};  // the walk chooses 9691 from the stored port
    world.write_refused = kKeyRefused;
    test::LogCapture log;
    EXPECT_EQ(SelectPortWith(world, world), c.used);
    EXPECT_THAT(log.Lines(), ElementsAreArray(c.lines));
  }
}

// Only the open form of a refused key can be staged under wine
// (HostileMachine.ARegistryKeyThatCannotBeCreatedCostsOnlyTheStoredPort):
// a key made and then refused, and a value that cannot be set, have their
// lines here.
TEST(StoredPortRefused, TheKeyInBothFormsAndTheValueHaveTheirFixedLines) {
  const struct Case {
    platform::SystemError refused;
    std::string line;
  } cases[] = {
      {{kCreatedKeyCall, 5}, "info: RegCreateKeyEx create key failed, result: 5"},
      {{kCreateKeyCall, 1021}, "info: RegCreateKeyEx open key failed, result: 1021"},
      {{kSetValueCall, 1018}, "info: RegSetKeyValue failed, result: 1018"},
  };
  for (const Case& c : cases) {
    FakeWorld world;
    world.stored = 9673;
    world.write_refused = c.refused;
    test::LogCapture log;
    EXPECT_EQ(SelectPortWith(world, world), 9673);
    EXPECT_THAT(log.Lines(), ElementsAre(c.line, "info: write ServerPort error",
                                         "warning: ServerPort not written: the service will use the stored port 9673"));
  }
}

// Nothing here catches: a step that throws (out of memory, say) ends the
// stages, and the run's end answers the caller and logs what was thrown.
TEST(SelectPortWith, AnExceptionOfAnyStepPassesThroughToTheRunsEnd) {
  FakeWorld listing;
  listing.listing_throws = true;
  EXPECT_THROW(SelectPortWith(listing, listing), std::runtime_error);
  EXPECT_THAT(listing.written, IsEmpty());

  FakeWorld reading;
  reading.read_throws = true;
  EXPECT_THROW(SelectPortWith(reading, reading), std::runtime_error);
  EXPECT_THAT(reading.written, IsEmpty());

  FakeWorld writing;
  writing.write_throws = true;
  EXPECT_THROW(SelectPortWith(writing, writing), std::runtime_error);

  FakeWorld foreign;
  foreign.read_throws_foreign = true;
  EXPECT_THROW(SelectPortWith(foreign, foreign), int);
}

}  // namespace
}  // namespace starter::port
