#include "log/log_location.h"

#include <gtest/gtest.h>

namespace starter::log {
namespace {

// Facts as Windows (and, by name, wine) report them for what another account
// may put in the log's place. Junctions, junctions into the object manager's
// namespace and symbolic links cannot be made under wine: here are their answers.
TEST(LogRefusal, ALinkOfAnyKindOrASecondNameIsRefused) {
  constexpr std::uint32_t kJunction = 0xA0000003, kSymbolicLink = 0xA000000C;
  EXPECT_EQ(JudgeOwnFolder({0x10, 0, 1}, 0x10), Refusal::kNone);
  EXPECT_EQ(JudgeOwnFolder({0x10, 0, 1}, 0), Refusal::kNone);  // name not to be asked: the handle decides
  EXPECT_EQ(JudgeOwnFolder({0x410, kJunction, 1}, 0x410), Refusal::kLink);
  EXPECT_EQ(JudgeOwnFolder({0x410, kSymbolicLink, 1}, 0), Refusal::kLink);
  EXPECT_EQ(JudgeOwnFolder({0x10, kJunction, 1}, 0x10), Refusal::kLink);  // a tag without the attribute
  EXPECT_EQ(JudgeOwnFolder({0x10, 0, 1}, 0x410), Refusal::kLink);         // wine: a unix link, by name only

  EXPECT_EQ(JudgeLogFile({0x20, 0, 1}), Refusal::kNone);
  EXPECT_EQ(JudgeLogFile({0x420, kSymbolicLink, 1}), Refusal::kLink);
  EXPECT_EQ(JudgeLogFile({0x400, kJunction, 2}), Refusal::kLink);
  EXPECT_EQ(JudgeLogFile({0x20, 0, 2}), Refusal::kSeveralNames);
}

}  // namespace
}  // namespace starter::log
