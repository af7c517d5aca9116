// The waits between polls on a scripted clock: a watch that wakes the starter
// when the marker's folder changes, one that only sleeps where there is no
// folder to watch, and the line that says why a wait ran out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "app/readiness_wait.h"
#include "support/log_capture.h"

namespace starter::app {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using namespace std::chrono_literals;
using ::testing::ElementsAre;

using Answer = std::function<bool(microseconds)>;
Answer From(microseconds when) {
  return [when](microseconds now) { return now >= when; };
}

// The machine as a function of time. Each poll (counted at the service check,
// which every poll of the watched modes makes while the port listens) costs
// `poll_cost`; the folder changes when `next_change` says, given the moment
// the watch was last armed. A timed-out wait may end `wait_shortfall` early.
struct World {
  Answer port = From(0ms), service = From(0ms), marker = From(microseconds::max());
  std::function<microseconds(microseconds)> next_change = [](microseconds) { return microseconds::max(); };
  bool watchable = true;
  microseconds poll_cost = 2ms, wait_shortfall = 0ms;

  microseconds now{0}, armed{0}, printed_at{0};
  std::vector<double> polls{};  // when each began, in ms
  int sleeps = 0, watches = 0;

  struct Probe;
  // Notes when the line is printed.
  struct Clocked final : LineWriter {
    explicit Clocked(World& of) : world(of) {}
    platform::Expected<std::size_t> Write(std::string_view line) override {
      world.printed_at = world.now;
      return line.size();
    }
    World& world;
  } clocked{*this};
  StatusLineOnce line{clocked};

  // A watch on the folder, or one that only sleeps (counted).
  struct Watch final : FolderWatch {
    Watch(World& of, bool on_folder) : world(of), watching(on_folder) { world.armed = world.now; }
    microseconds Now() override { return world.now; }
    bool WaitForChange(milliseconds timeout) override {
      if (!watching) {
        ++world.sleeps;
        world.now += timeout;
        return false;
      }
      if (const microseconds change = world.next_change(world.armed); change <= world.now + timeout) {
        world.now = world.armed = std::max(world.now, change);
        return true;
      }
      world.now += timeout > world.wait_shortfall ? timeout - world.wait_shortfall : timeout;
      return false;
    }
    void Pause(milliseconds duration) override { world.now += duration; }
    World& world;
    bool watching;
  };
};

struct World::Probe final : ReadinessProbe {
  explicit Probe(World& of) : world(of) {}
  PortCheck CheckPort(std::uint16_t) override { return {world.port(world.now), {}}; }
  platform::Expected<service::ServiceSearch> FindService() override {
    world.polls.push_back(std::chrono::duration<double, std::milli>(world.now).count());
    world.now += world.poll_cost;
    return world.service(world.now) ? service::ServiceSearch::kFound : service::ServiceSearch::kNotFound;
  }
  bool MarkerPresent() override { return world.marker(world.now); }
  void RemoveConnectedMarker() override {}
  void KeepConnectedMarker() override {}
  std::unique_ptr<FolderWatch> WatchMarkerFolder() override {
    ++world.watches;
    return std::make_unique<Watch>(world, world.watchable);
  }
  std::unique_ptr<FolderWatch> WatchNothing() override { return std::make_unique<Watch>(world, false); }
  World& world;
};

void ReportIn(World& world, contract::CallerMode mode) {
  World::Probe probe(world);
  ReportReadiness(mode, 9673, probe, world.line);
}

// A marker written mid-wait is polled at once, but never sooner than 10 ms
// after the poll before ended (the first one ends at 2 ms).
TEST(FolderWatchWait, AChangeMidWaitIsPolledAtOnceKeepingTheGap) {
  for (microseconds written : {40ms, 5ms}) {
    test::LogCapture log;
    World world;
    world.marker = From(written);
    world.next_change = [written](microseconds armed) { return armed < written ? written : microseconds::max(); };
    ReportIn(world, contract::CallerMode::kProcessAndFile);
    EXPECT_THAT(world.polls, ElementsAre(0, written == 40ms ? 40 : 12));
    // A success writes the lines it always wrote.
    EXPECT_THAT(log.Lines(), ElementsAre("info: Case --BrandleAgent Dravel, check process and file",
                                         R"(info: OUTPUT->{"Dravel":0,"Selkan":0})"));
  }
}

// Changes every millisecond bring extra polls, but no more than one per
// 10 ms, and they use up no poll of the clock: the wait still runs 200
// periods of 100 ms after their polls, even when polls are slow or the
// system's waits end a little early.
TEST(FolderWatchWait, AFolderThatAlwaysChangesNeitherShortensTheWaitNorMakesItSpin) {
  // Each case: the cost of a poll, when the timeout line comes (200 polls,
  // each followed by 100 ms), and the most polls allowed in that time (200
  // on the clock and one per 10 ms).
  for (const auto& [cost, timeout_at, most_polls] : {std::tuple(2ms, 20400ms, 2240), std::tuple(25ms, 25000ms, 2700)}) {
    World world;
    world.poll_cost = cost;
    world.next_change = [](microseconds armed) { return armed + 1ms; };
    ReportIn(world, contract::CallerMode::kAllChecks);
    EXPECT_EQ(world.printed_at, timeout_at);
    EXPECT_GT(world.polls.size(), 400u);
    EXPECT_LE(world.polls.size(), static_cast<std::size_t>(most_polls));
  }
  World early;
  early.wait_shortfall = 1ms;
  ReportIn(early, contract::CallerMode::kAllChecks);
  EXPECT_EQ(early.printed_at, 20400ms);
  EXPECT_EQ(early.polls.size(), 200u);
}

TEST(FolderWatchWait, AFolderThatCannotBeWatchedOnlySleeps) {
  World world;
  world.watchable = false;
  ReportIn(world, contract::CallerMode::kProcessAndFile);
  EXPECT_EQ(world.watches, 1);
  EXPECT_EQ(world.sleeps, 200);

  // No event announces a listening socket: the port mode never watches.
  World port;
  port.port = From(microseconds::max());
  ReportIn(port, contract::CallerMode::kPort);
  EXPECT_EQ(port.watches, 0);
  EXPECT_EQ(port.sleeps, 200);
}

// The line before the timeout names the check that failed in the last poll,
// in the words of the poll lines, even when earlier polls failed elsewhere.
TEST(FolderWatchWait, AWaitThatRunsOutNamesTheCheckThatFailedLast) {
  const Answer until_5s = [](microseconds now) { return now < 5s; };
  for (const auto& [port, service, named] : {std::tuple(until_5s, From(1s), "port not LISTENING"),
                                             std::tuple(From(0ms), until_5s, "exe not Exist")}) {
    test::LogCapture log;
    World world;
    world.port = port;
    world.service = service;
    ReportIn(world, contract::CallerMode::kAllChecks);
    EXPECT_THAT(log.Lines(), ElementsAre("info: Case no args, check port,process and file",
                                         std::string("info: wait ended: ") + named,
                                         R"(info: OUTPUT->{"Dravel":1,"Selkan":1})"));
  }
}

}  // namespace
}  // namespace starter::app
