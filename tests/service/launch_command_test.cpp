#include "service/launch_command.h"

#include <gtest/gtest.h>

namespace starter::service {
namespace {

constexpr wchar_t kJar[] = L"C:\\Program Files\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar";

TEST(ServiceCommandLine, EmptyProgramTokenThenOptionsThenQuotedJar) {
  EXPECT_EQ(BuildServiceCommandLine(kJar, true),
            L" -Djava.net.preferIPv4Stack=true -jar \"C:\\Program Files\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar\"");
  EXPECT_EQ(BuildServiceCommandLine(kJar, false),
            L" -Djava.net.preferIPv4Stack=true -Djava.io.tmpdir=\"C:\\Windows\\Temp\" "
            L"-Djna.tmpdir=\"C:\\Windows\\Temp\" -jar \"C:\\Program Files\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar\"");
}

}  // namespace
}  // namespace starter::service
