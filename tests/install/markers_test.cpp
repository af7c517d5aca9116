// The rule by which the waits tell the service's connected marker from one an
// earlier run left at its name.
#include "install/markers.h"

#include <gtest/gtest.h>

namespace starter::install {
namespace {

using Kind = MarkerLook::Kind;

TEST(LeftoverMarker, OnlyAnotherFileOrALaterWriteIsTheServicesMarker) {
  const platform::FileIdentity seen{0x43000000, 0xA7C0F1, 1000};
  struct Case {
    const char* name;
    MarkerLook look;
    std::optional<platform::FileIdentity> leftover;
    bool expected;
  };
  const Case cases[] = {
      {"nothing at the name", {Kind::kAbsent, {}}, seen, false},
      {"the leftover as it was", {Kind::kFile, seen}, seen, false},
      {"the leftover with an older time", {Kind::kFile, {0x43000000, 0xA7C0F1, 999}}, seen, false},
      {"the leftover truncated and written", {Kind::kFile, {0x43000000, 0xA7C0F1, 1001}}, seen, true},
      {"another file, older time", {Kind::kFile, {0x43000000, 0xA7C0F4, 10}}, seen, true},
      {"same index on another volume", {Kind::kFile, {0x12345678, 0xA7C0F1, 1000}}, seen, true},
      {"a name waiting for its deletion", {Kind::kUnreadable, {}}, seen, false},
      {"unreadable leftover, still unreadable", {Kind::kUnreadable, {}}, std::nullopt, false},
      {"unreadable leftover, now a file", {Kind::kFile, seen}, std::nullopt, true},
      {"unreadable leftover, now nothing", {Kind::kAbsent, {}}, std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsServiceMarker(c.look, LeftoverMarker{c.leftover}), c.expected);
  }
}

}  // namespace
}  // namespace starter::install
