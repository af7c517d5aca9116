#include "app/stale_marker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace starter::app {
namespace {

using ::testing::ElementsAre;

TEST(ClearStaleConnectedMarker, ARunningServiceKeepsItsMarkerAndNothingIsLogged) {
  test::LogCapture log;
  int removals = 0;
  ClearStaleConnectedMarker(true, [&] { ++removals; });
  EXPECT_EQ(removals, 0);
  EXPECT_TRUE(log.Lines().empty());
}

TEST(ClearStaleConnectedMarker, WithoutAServiceTheAbsenceIsLoggedBeforeTheMarkerGoes) {
  test::LogCapture log;
  std::vector<std::string> seen_at_removal;
  ClearStaleConnectedMarker(false, [&] { seen_at_removal = log.Lines(); });
  EXPECT_THAT(seen_at_removal, ElementsAre("info: Vantic process not exist"));
  EXPECT_THAT(log.Lines(), ElementsAre("info: Vantic process not exist"));
}

}  // namespace
}  // namespace starter::app
