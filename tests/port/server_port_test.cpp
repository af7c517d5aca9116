#include "port/port_selection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "port/scripted_steps.h"
#include "support/log_capture.h"

namespace starter::port {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using FakeWorld = test::ScriptedSteps;

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
      // Unusable stored values start the walk at 9673 without a word.
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
    world.stored = c.stored;
    world.taken = c.taken;
    test::LogCapture log;
    EXPECT_EQ(SelectPortWith(world, world), c.chosen);
    EXPECT_THAT(world.listed, ElementsAreArray(c.checks));
    EXPECT_THAT(world.written, ElementsAre(static_cast<std::uint32_t>(c.chosen)));
    std::vector<std::string> lines;
    for (int port : c.checks)
      if (port != c.chosen)
        lines.push_back("info: port " + std::to_string(port) + " is not available");
    if (c.chosen == 0) lines.push_back("info: ports between [9673, 9700] are all used");
    EXPECT_THAT(log.Lines(), ElementsAreArray(lines));
  }
}

TEST(SelectPortWith, ReadExceptionIsLoggedAndTheWalkStartsAt9673) {
  FakeWorld world;
  world.read_throws = true;
  world.taken = {9673};
  test::LogCapture log;
  EXPECT_EQ(SelectPortWith(world, world), 9674);
  EXPECT_THAT(log.Lines(), ElementsAre("info: read ServerPort exception: registry gone",
                                       "info: port 9673 is not available"));
  EXPECT_THAT(world.written, ElementsAre(9674u));
}

TEST(SelectPortWith, FailedWriteStillReturnsTheChosenPort) {
  FakeWorld refused;
  refused.stored = 9700;
  refused.write_refused = true;
  test::LogCapture refused_log;
  EXPECT_EQ(SelectPortWith(refused, refused), 9700);
  EXPECT_THAT(refused_log.Lines(),
              ElementsAre("info: write ServerPort error",
                          "warning: ServerPort not written: the service will use the stored port 9700"));

  FakeWorld throwing;
  throwing.taken = {9673};
  throwing.write_throws = true;
  test::LogCapture throwing_log;
  EXPECT_EQ(SelectPortWith(throwing, throwing), 9674);
  EXPECT_THAT(throwing_log.Lines(), ElementsAre("info: port 9673 is not available",
                                                "info: write ServerPort exception: access denied"));
}

// As for a standard user, whose write to HKLM is refused (error 5): the
// service reads what ServerPort already holds, so that port is the one used.
TEST(SelectPortWith, RefusedWriteFallsBackToAUsableStoredPort) {
  const std::string kWarning = "warning: ServerPort not written: the service will use the stored port ";
  const std::string kTaken = "info: port 9690 is not available";
  struct RefusedCase {
    std::optional<std::uint32_t> stored;
    bool write_throws;
    int used;
    std::vector<std::string> lines;
  } cases[] = {
      {9690, false, 9690, {kTaken, "info: write ServerPort error", kWarning + "9690"}},
      {9690, true, 9690, {kTaken, "info: write ServerPort exception: access denied", kWarning + "9690"}},
      {std::nullopt, false, 9673, {"info: write ServerPort error"}},
      {9701, false, 9673, {"info: write ServerPort error"}},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.stored.value_or(0));
    FakeWorld world;
    world.stored = c.stored;
    world.taken = {9690};  // the walk chooses 9691 from the stored port
    world.write_refused = true;
    world.write_throws = c.write_throws;
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
  test::LogCapture log;
  LogKeyRefused(true, 5);
  LogKeyRefused(false, 1021);
  LogValueRefused(1018);
  EXPECT_THAT(log.Lines(), ElementsAre("info: RegCreateKeyEx create key failed, result: 5",
                                       "info: RegCreateKeyEx open key failed, result: 1021",
                                       "info: RegSetKeyValue failed, result: 1018"));
}

TEST(SelectPortWith, FailuresOfTheCheckAndForeignExceptionsPassThrough) {
  FakeWorld world;
  world.listing_throws = true;
  EXPECT_THROW(SelectPortWith(world, world), std::runtime_error);
  EXPECT_THAT(world.written, IsEmpty());

  FakeWorld foreign;
  foreign.read_throws_foreign = true;
  EXPECT_THROW(SelectPortWith(foreign, foreign), int);
}

}  // namespace
}  // namespace starter::port
