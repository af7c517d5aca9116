#include "app/readiness_wait.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/log_capture.h"

namespace starter::app {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A machine on which a service runs or not; the removal records what the log
// held when it began.
struct ServiceAndMarker final : ReadinessProbe {
  explicit ServiceAndMarker(bool running, test::LogCapture& of) : service_running(running), log(of) {}
  PortCheck CheckPort(std::uint16_t) override { return {}; }
  bool ServiceRunning() override { return service_running; }
  bool MarkerPresent() override { return false; }
  void RemoveConnectedMarker() override { seen_at_removal.push_back(log.Lines()); }
  std::unique_ptr<FolderWatch> WatchMarkerFolder() override { return nullptr; }
  std::unique_ptr<FolderWatch> WatchNothing() override { return nullptr; }

  bool service_running;
  test::LogCapture& log;
  std::vector<std::vector<std::string>> seen_at_removal;
};

TEST(ClearStaleConnectedMarker, ARunningServiceKeepsItsMarkerAndNothingIsLogged) {
  test::LogCapture log;
  ServiceAndMarker machine(true, log);
  ClearStaleConnectedMarker(machine);
  EXPECT_THAT(machine.seen_at_removal, IsEmpty());
  EXPECT_TRUE(log.Lines().empty());
}

TEST(ClearStaleConnectedMarker, WithoutAServiceTheAbsenceIsLoggedBeforeTheMarkerGoes) {
  test::LogCapture log;
  ServiceAndMarker machine(false, log);
  ClearStaleConnectedMarker(machine);
  ASSERT_EQ(machine.seen_at_removal.size(), 1u);
  EXPECT_THAT(machine.seen_at_removal.front(), ElementsAre("info: Vantic process not exist"));
  EXPECT_THAT(log.Lines(), ElementsAre("info: Vantic process not exist"));
}

}  // namespace
}  // namespace starter::app
