#include "port/port_walk.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/log_capture.h"

namespace starter::port {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// The registry and the port checks, scripted and recorded.
struct FakeWorld {
  std::optional<std::uint32_t> stored;
  bool read_throws = false;
  bool write_refused = false;
  bool write_throws = false;
  std::set<int> taken;
  std::vector<int> checked;
  std::vector<std::uint32_t> written;

  PortSelectionOps Ops() {
    return {[this](std::uint32_t& value) {
              if (read_throws) throw std::runtime_error("registry gone");
              if (stored) value = *stored;
              return stored.has_value();
            },
            [this](std::uint32_t value) {
              if (write_throws) throw std::runtime_error("access denied");
              written.push_back(value);
              return !write_refused;
            },
            [this](int port) {
              checked.push_back(port);
              return taken.count(port) == 0;
            }};
  }
};

std::vector<int> Range(int first, int last) {
  std::vector<int> ports;
  for (int port = first; port <= last; ++port) ports.push_back(port);
  return ports;
}

std::vector<std::string> NotAvailableLines(const std::vector<int>& ports) {
  std::vector<std::string> lines;
  for (int port : ports) lines.push_back("info: port " + std::to_string(port) + " is not available");
  return lines;
}

TEST(SelectPortWith, UsableStoredPortIsKeptAfterOneCheck) {
  FakeWorld world;
  world.stored = 9690;
  test::LogCapture log;
  EXPECT_EQ(SelectPortWith(world.Ops()), 9690);
  EXPECT_THAT(world.checked, ElementsAre(9690));
  EXPECT_THAT(world.written, ElementsAre(9690u));
  EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST(SelectPortWith, StoredValuesOutsideTheRangeStartAt9673Silently) {
  for (std::optional<std::uint32_t> stored :
       {std::optional<std::uint32_t>(), std::optional<std::uint32_t>(9672u), {9701u}, {0u},
        {4294967295u}, {2147483648u}, {2147483647u}}) {
    FakeWorld world;
    world.stored = stored;
    test::LogCapture log;
    EXPECT_EQ(SelectPortWith(world.Ops()), 9673);
    EXPECT_THAT(world.checked, ElementsAre(9673));
    EXPECT_THAT(world.written, ElementsAre(9673u));
    EXPECT_THAT(log.Lines(), IsEmpty()) << stored.value_or(0);
  }
}

TEST(SelectPortWith, WalksUpwardAndWrapsFrom9700To9673) {
  FakeWorld world;
  world.stored = 9680;
  for (int port : Range(9680, 9700)) world.taken.insert(port);
  test::LogCapture log;
  EXPECT_EQ(SelectPortWith(world.Ops()), 9673);
  std::vector<int> expected_checks = Range(9680, 9700);
  expected_checks.push_back(9673);
  EXPECT_THAT(world.checked, ElementsAreArray(expected_checks));
  EXPECT_THAT(log.Lines(), ElementsAreArray(NotAvailableLines(Range(9680, 9700))));
  EXPECT_THAT(world.written, ElementsAre(9673u));
}

TEST(SelectPortWith, EveryPortTakenStoresAndReturnsZeroAfter28Checks) {
  FakeWorld world;
  world.stored = 9690;
  for (int port : Range(9600, 9800)) world.taken.insert(port);
  test::LogCapture log;
  EXPECT_EQ(SelectPortWith(world.Ops()), 0);
  std::vector<int> expected_checks = Range(9690, 9700);
  for (int port : Range(9673, 9689)) expected_checks.push_back(port);
  EXPECT_THAT(world.checked, ElementsAreArray(expected_checks));
  std::vector<std::string> lines = NotAvailableLines(expected_checks);
  lines.push_back("info: ports between [9673, 9700] are all used");
  EXPECT_THAT(log.Lines(), ElementsAreArray(lines));
  EXPECT_THAT(world.written, ElementsAre(0u));
}

TEST(SelectPortWith, ReadExceptionIsLoggedAndTheWalkStartsAt9673) {
  FakeWorld world;
  world.read_throws = true;
  world.taken = {9673};
  test::LogCapture log;
  EXPECT_EQ(SelectPortWith(world.Ops()), 9674);
  EXPECT_THAT(log.Lines(), ElementsAre("info: read ServerPort exception: registry gone",
                                       "info: port 9673 is not available"));
  EXPECT_THAT(world.written, ElementsAre(9674u));
}

TEST(SelectPortWith, FailedWriteStillReturnsTheChosenPort) {
  FakeWorld refused;
  refused.stored = 9700;
  refused.write_refused = true;
  test::LogCapture refused_log;
  EXPECT_EQ(SelectPortWith(refused.Ops()), 9700);
  EXPECT_THAT(refused_log.Lines(), ElementsAre("info: write ServerPort error"));

  FakeWorld throwing;
  throwing.taken = {9673};
  throwing.write_throws = true;
  test::LogCapture throwing_log;
  EXPECT_EQ(SelectPortWith(throwing.Ops()), 9674);
  EXPECT_THAT(throwing_log.Lines(), ElementsAre("info: port 9673 is not available",
                                                "info: write ServerPort exception: access denied"));
}

TEST(SelectPortWith, FailuresOfTheCheckAndForeignExceptionsPassThrough) {
  FakeWorld world;
  PortSelectionOps ops = world.Ops();
  ops.is_available = [](int) -> bool { throw std::runtime_error("no interpreter"); };
  EXPECT_THROW(SelectPortWith(ops), std::runtime_error);
  EXPECT_THAT(world.written, IsEmpty());

  ops = world.Ops();
  ops.read_stored = [](std::uint32_t&) -> bool { throw 42; };
  EXPECT_THROW(SelectPortWith(ops), int);
}

}  // namespace
}  // namespace starter::port
