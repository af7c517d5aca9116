// The waits between polls on a scripted clock: a folder watch that wakes the
// starter when the folder changes, the plain sleep where there is none, and
// the line that says why a wait ran out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "app/caller_mode.h"
#include "support/log_capture.h"

namespace starter::app {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using namespace std::chrono_literals;
using ::testing::ElementsAre;

constexpr microseconds kNever = microseconds::max();
constexpr char kSuccessLine[] = R"({"Dravel":0,"Selkan":0})";

// The machine as a function of time: each check answers from the clock, and
// the folder changes when `next_change` says, given the time the watch was
// last armed. Polls cost `poll_cost` of the clock; sleeps and waits advance it.
struct World {
  std::function<bool(microseconds)> port = [](microseconds) { return true; };
  std::function<bool(microseconds)> service = [](microseconds) { return true; };
  std::function<bool(microseconds)> marker = [](microseconds) { return false; };
  std::function<microseconds(microseconds)> next_change = [](microseconds) { return kNever; };
  bool watchable = true;
  microseconds poll_cost = 2ms;
  microseconds wait_shortfall = 0ms;  // how much sooner than asked a timed-out wait ends

  microseconds now{0};
  microseconds armed{0};
  std::vector<double> polls{};  // when each poll began, in milliseconds
  int sleeps = 0;
  int watches = 0;
  std::vector<std::string> printed{};
  microseconds printed_at{0};

  ReadinessProbe Probe();

 private:
  bool port_checked = false;
  void BeginPoll() {
    polls.push_back(std::chrono::duration<double, std::milli>(now).count());
    now += poll_cost;
    port_checked = true;
  }
};

class ScriptedWatch final : public FolderWatch {
 public:
  explicit ScriptedWatch(World& world) : world_(world) { world_.armed = world_.now; }
  microseconds Now() override { return world_.now; }
  bool WaitForChange(milliseconds timeout) override {
    const microseconds change = world_.next_change(world_.armed);
    if (change <= world_.now + timeout) {
      world_.now = std::max(world_.now, change);
      world_.armed = world_.now;
      return true;
    }
    world_.now += timeout > world_.wait_shortfall ? timeout - world_.wait_shortfall : timeout;
    return false;
  }
  void Pause(milliseconds duration) override { world_.now += duration; }

 private:
  World& world_;
};

ReadinessProbe World::Probe() {
  ReadinessProbe probe;
  probe.port_listening = [this] {
    BeginPoll();
    return port(now);
  };
  // The process-and-file mode's polls begin with the service.
  probe.service_running = [this] {
    if (!port_checked) BeginPoll();
    port_checked = false;
    return service(now);
  };
  probe.marker_present = [this] { return marker(now); };
  probe.sleep_between_polls = [this] {
    ++sleeps;
    now += kPollPeriod;
  };
  probe.watch_marker_folder = [this]() -> std::unique_ptr<FolderWatch> {
    ++watches;
    return watchable ? std::make_unique<ScriptedWatch>(*this) : nullptr;
  };
  probe.print = [this](const std::string& line) {
    printed.push_back(line);
    printed_at = now;
  };
  return probe;
}

std::function<bool(microseconds)> From(microseconds when) {
  return [when](microseconds now) { return now >= when; };
}

// The folder changes at these times, in order.
std::function<microseconds(microseconds)> ChangesAt(std::vector<microseconds> times) {
  return [times](microseconds armed) {
    for (microseconds when : times)
      if (when > armed) return when;
    return kNever;
  };
}

TEST(FolderWatchWait, AMarkerWrittenMidWaitIsPolledAtOnce) {
  for (CallerMode mode : {CallerMode::kNoArgument, CallerMode::kProcessAndFile}) {
    test::LogCapture log;
    World world;
    world.marker = From(40ms);
    world.next_change = ChangesAt({40ms});
    CheckCaseWith(mode, ResultLines{}, world.Probe());
    EXPECT_THAT(world.polls, ElementsAre(0, 40));
    EXPECT_THAT(world.printed, ElementsAre(kSuccessLine));
    EXPECT_EQ(world.printed_at, 42ms);
    // A success writes the lines it always wrote: no word about the wait.
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[1], std::string("info: OUTPUT->") + kSuccessLine);
  }
}

// A change just after a poll is served once the gap has passed, within the
// same period; a change that comes while the gap would reach past the
// period is left to the next poll on the clock.
TEST(FolderWatchWait, AnExtraPollKeepsItsGapFromThePollBefore) {
  World soon;
  soon.marker = From(5ms);
  soon.next_change = ChangesAt({5ms});
  CheckCaseWith(CallerMode::kNoArgument, ResultLines{}, soon.Probe());
  EXPECT_THAT(soon.polls, ElementsAre(0, 12));  // the first poll ended at 2 ms

  World late;
  late.marker = From(97ms);
  late.next_change = ChangesAt({90ms, 97ms});
  CheckCaseWith(CallerMode::kNoArgument, ResultLines{}, late.Probe());
  EXPECT_THAT(late.polls, ElementsAre(0, 90, 102));
}

// Changes that keep coming bring extra polls but never more than one per
// gap, and they use up no poll of the clock: the wait runs its 200 periods
// of 100 ms after their polls, as without a watch, and names the check.
TEST(FolderWatchWait, AFolderThatAlwaysChangesNeitherShortensTheWaitNorMakesItSpin) {
  test::LogCapture log;
  World world;
  world.next_change = [](microseconds armed) { return armed + 1ms; };
  CheckCaseWith(CallerMode::kNoArgument, ResultLines{}, world.Probe());
  EXPECT_THAT(world.printed, ElementsAre(ResultLines{}.all_timeout));
  EXPECT_GE(world.printed_at, kMaxPolls * (kPollPeriod + world.poll_cost));
  const auto polls = static_cast<long>(world.polls.size());
  EXPECT_GT(polls, 4 * kMaxPolls);  // the changes were served
  EXPECT_LE(polls, kMaxPolls + world.printed_at / kMinExtraPollGap);
  EXPECT_EQ(log.Lines().back(), std::string("info: OUTPUT->") + ResultLines{}.all_timeout);
  EXPECT_EQ(log.Lines()[log.Lines().size() - 2], "info: wait ended: WsClientConnected.json not Exist");

  // Polls as slow as wine's on a busy machine: an extra poll that would run
  // past the period does not put off the poll on the clock.
  World slow;
  slow.poll_cost = 25ms;
  slow.next_change = world.next_change;
  CheckCaseWith(CallerMode::kNoArgument, ResultLines{}, slow.Probe());
  EXPECT_EQ(slow.printed_at, kMaxPolls * (kPollPeriod + slow.poll_cost));
  EXPECT_EQ(slow.polls.size(), 3u * kMaxPolls);

  // One change in every period, 50 ms after its poll began: one extra poll
  // each, the periods unchanged.
  World once;
  once.next_change = [cycle = kPollPeriod + once.poll_cost](microseconds armed) {
    const microseconds change = armed / cycle * cycle + 50ms;
    return change > armed ? change : change + cycle;
  };
  CheckCaseWith(CallerMode::kProcessAndFile, ResultLines{}, once.Probe());
  EXPECT_EQ(once.polls.size(), 2u * kMaxPolls);
  EXPECT_EQ(once.printed_at, kMaxPolls * (kPollPeriod + once.poll_cost));
}

// The system's clock and its waits need not agree to the millisecond.
TEST(FolderWatchWait, AWaitThatEndsEarlyIsWaitedOutToTheEndOfThePeriod) {
  World world;
  world.wait_shortfall = 1ms;
  CheckCaseWith(CallerMode::kNoArgument, ResultLines{}, world.Probe());
  EXPECT_EQ(world.polls.size(), static_cast<std::size_t>(kMaxPolls));
  EXPECT_GE(world.printed_at, kMaxPolls * (kPollPeriod + world.poll_cost));
}

TEST(FolderWatchWait, AFolderThatCannotBeWatchedGetsThePlainSleep) {
  World world;
  world.watchable = false;
  world.next_change = [](microseconds armed) { return armed + 1ms; };
  CheckCaseWith(CallerMode::kProcessAndFile, ResultLines{}, world.Probe());
  EXPECT_EQ(world.watches, 1);
  EXPECT_EQ(world.sleeps, kMaxPolls);
  EXPECT_EQ(world.polls.size(), static_cast<std::size_t>(kMaxPolls));

  // No event announces a listening socket: the port mode never watches.
  World port;
  port.port = [](microseconds) { return false; };
  CheckCaseWith(CallerMode::kPort, ResultLines{}, port.Probe());
  EXPECT_EQ(port.watches, 0);
  EXPECT_EQ(port.sleeps, kMaxPolls);
}

struct Ending {
  const char* name;
  CallerMode mode;
  std::function<bool(microseconds)> port;
  std::function<bool(microseconds)> service;
  const char* line;
  friend void PrintTo(const Ending& ending, std::ostream* out) { *out << ending.name; }
};

class WaitEnding : public ::testing::TestWithParam<Ending> {};

// The line names the check that failed in the last poll, in the words of the
// poll lines, even when earlier polls failed elsewhere.
TEST_P(WaitEnding, NamesTheCheckThatFailedLast) {
  test::LogCapture log;
  World world;
  world.port = GetParam().port;
  world.service = GetParam().service;
  CheckCaseWith(GetParam().mode, ResultLines{}, world.Probe());
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], std::string("info: wait ended: ") + GetParam().line);
  EXPECT_EQ(lines[2].rfind("info: OUTPUT->", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, WaitEnding,
    ::testing::Values(
        Ending{"PortMode", CallerMode::kPort, [](microseconds) { return false; }, From(0ms), "port not LISTENING"},
        Ending{"PortStoppedListening", CallerMode::kNoArgument, [](microseconds now) { return now < 5s; }, From(1s),
               "port not LISTENING"},
        Ending{"ServiceGone", CallerMode::kNoArgument, From(0ms), [](microseconds now) { return now < 5s; },
               "exe not Exist"},
        Ending{"NoServiceToWaitFor", CallerMode::kProcessAndFile, From(0ms), [](microseconds) { return false; },
               "exe not Exist"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace starter::app
