#include "app/readiness_wait.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace starter::app {
namespace {

using ::testing::ElementsAre;
using Leftover = std::optional<install::LeftoverMarker>;

TEST(ClearStaleConnectedMarker, ARunningServiceKeepsItsMarkerAndNothingIsLogged) {
  test::LogCapture log;
  int removals = 0;
  const Leftover leftover = ClearStaleConnectedMarker(true, [&]() -> Leftover {
    ++removals;
    return install::LeftoverMarker{};
  });
  EXPECT_EQ(removals, 0);
  EXPECT_FALSE(leftover.has_value());
  EXPECT_TRUE(log.Lines().empty());
}

TEST(ClearStaleConnectedMarker, WithoutAServiceTheAbsenceIsLoggedBeforeTheMarkerGoes) {
  test::LogCapture log;
  std::vector<std::string> seen_at_removal;
  const Leftover leftover = ClearStaleConnectedMarker(false, [&]() -> Leftover {
    seen_at_removal = log.Lines();
    return install::LeftoverMarker{platform::FileIdentity{7, 42, 1000}};
  });
  EXPECT_THAT(seen_at_removal, ElementsAre("info: Vantic process not exist"));
  EXPECT_THAT(log.Lines(), ElementsAre("info: Vantic process not exist"));
  // What the removal could not take away reaches the waits.
  ASSERT_TRUE(leftover && leftover->identity);
  EXPECT_EQ(leftover->identity->index, 42u);
}

}  // namespace
}  // namespace starter::app
