#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/readiness_wait.h"
#include "support/log_capture.h"

namespace starter::app {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A machine whose process list answers as scripted; the marker's removal and
// keep record what the log held when they began.
struct ServiceAndMarker final : ReadinessProbe {
  ServiceAndMarker(platform::Expected<service::ServiceSearch> found, test::LogCapture& of)
      : search(std::move(found)), log(of) {}
  PortCheck CheckPort(std::uint16_t) override { return {}; }
  platform::Expected<service::ServiceSearch> FindService() override { return search; }
  bool MarkerPresent() override { return false; }
  void RemoveConnectedMarker() override { removed.push_back(log.Lines()); }
  void KeepConnectedMarker() override { kept.push_back(log.Lines()); }
  std::unique_ptr<FolderWatch> WatchMarkerFolder() override { return nullptr; }
  std::unique_ptr<FolderWatch> WatchNothing() override { return nullptr; }

  platform::Expected<service::ServiceSearch> search;
  test::LogCapture& log;
  std::vector<std::vector<std::string>> removed, kept;
};

// The marker goes only when every java.exe was examined and none is the
// service. A run that cannot tell keeps it, as a running service's marker
// must be kept, and says why; the wait then counts it only once rewritten.
TEST(ClearStaleConnectedMarker, RemovesOnlyWhenNoServiceIsKnownAndKeepsWhatItCannotTell) {
  {
    test::LogCapture log;
    ServiceAndMarker machine(service::ServiceSearch::kFound, log);
    ClearStaleConnectedMarker(machine);
    EXPECT_THAT(machine.removed, IsEmpty());
    EXPECT_THAT(machine.kept, IsEmpty());
    EXPECT_THAT(log.Lines(), IsEmpty());
  }
  {
    test::LogCapture log;
    ServiceAndMarker machine(service::ServiceSearch::kNotFound, log);
    ClearStaleConnectedMarker(machine);
    EXPECT_THAT(machine.removed, ElementsAre(ElementsAre("info: Vantic process not exist")));
    EXPECT_THAT(machine.kept, IsEmpty());
  }
  const struct {
    platform::Expected<service::ServiceSearch> search;
    std::string line;
  } cannot_tell[] = {
      {service::ServiceSearch::kCannotTell,
       "warning: Vantic process not known (a java.exe could not be examined): WsClientConnected.json kept"},
      {platform::SystemError{"CreateToolhelp32Snapshot", 5},
       "warning: Vantic process not known (process list could not be read: CreateToolhelp32Snapshot GLE=5): "
       "WsClientConnected.json kept"},
  };
  for (const auto& c : cannot_tell) {
    test::LogCapture log;
    ServiceAndMarker machine(c.search, log);
    ClearStaleConnectedMarker(machine);
    EXPECT_THAT(machine.removed, IsEmpty());
    EXPECT_THAT(machine.kept, ElementsAre(ElementsAre(c.line)));
  }
}

}  // namespace
}  // namespace starter::app
