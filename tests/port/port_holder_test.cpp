// The one judge of who holds the service's port, which the starter's wait
// and the status report both ask: each row is a machine the two once read
// differently, or one where a "cannot tell" was taken for a "no".
#include "port/port_holder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace starter::port {
namespace {

using service::Identity;
using Holder = PortHolding::Holder;

constexpr std::uint32_t kService = 4242, kOther = 777, kUnexamined = 5151, kNoJar = 6161, kEnded = 8080;

// What a look at each of those processes finds.
const OwnerLooks kLooks = {
    {kService, {Identity::kService, L"java.exe"}},
    {kOther, {Identity::kOtherProgram, L"other\x1b.exe"}},
    {kUnexamined, {Identity::kCannotTell, L"java.exe"}},
    {kNoJar, {Identity::kOtherProgram, L"java.exe"}},
    {kEnded, {Identity::kEnded, L""}},
};

PortListener V4(std::optional<std::uint32_t> owner) { return {owner, false}; }
PortListener V6(std::optional<std::uint32_t> owner) { return {owner, true}; }

TEST(JudgeHolder, TheServiceThenAnOwnerThatMayBeItThenAnotherProgram) {
  const struct Case {
    const char* name;
    std::vector<PortListener> listeners;
    Holder holder;
    bool wait_counts_it;
    std::string words;  // on port 9691
  } cases[] = {
      {"the service", {V4(kService)}, Holder::kService, true, ""},
      {"the service and another program, either first",
       {V4(kOther), V4(kService)}, Holder::kService, true, ""},
      {"another program only", {V4(kOther)}, Holder::kOtherProgram, false,
       "port 9691 held by process 777 (other\\x1B.exe), no Vantic service"},
      {"owner not named (wine 8)", {V4(std::nullopt)}, Holder::kCannotTell, true, ""},
      {"owner not named beside another program", {V4(kOther), V4(std::nullopt)}, Holder::kCannotTell, true, ""},
      {"a java.exe whose command line cannot be read", {V4(kUnexamined)}, Holder::kCannotTell, true, ""},
      {"a java.exe whose command line lacks the jar", {V4(kNoJar)}, Holder::kOtherProgram, false,
       "port 9691 held by process 6161 (java.exe), no Vantic service"},
      {"an owner no look answered for", {V4(9999)}, Holder::kCannotTell, true, ""},
      {"an owner that ended between the table and the look", {V4(kEnded)}, Holder::kNobody, false, ""},
      {"an ended owner beside another program", {V4(kEnded), V4(kOther)}, Holder::kOtherProgram, false,
       "port 9691 held by process 777 (other\\x1B.exe), no Vantic service"},
      {"IPv6 only, even the service's", {V6(kService), V6(std::nullopt)}, Holder::kNobody, false, ""},
      {"another program on IPv4, the service on IPv6", {V6(kService), V4(kOther)}, Holder::kOtherProgram, false,
       "port 9691 held by process 777 (other\\x1B.exe), no Vantic service"},
      {"nothing", {}, Holder::kNobody, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PortHolding holding = JudgeHolder(c.listeners, kLooks);
    EXPECT_EQ(holding.holder, c.holder);
    EXPECT_EQ(holding.ServiceMayListen(), c.wait_counts_it);
    EXPECT_EQ(HolderWords(9691, holding), c.words);
  }
}

// The wait's port check through its steps: it reads the listeners once,
// looks once at the named owners only, and hands a failed read back.
struct ScriptedHolderSteps final : HolderSteps {
  platform::Expected<std::vector<PortListener>> answer = std::vector<PortListener>{};
  std::vector<std::vector<std::uint32_t>> looked_at;
  platform::Expected<std::vector<PortListener>> Listeners(std::uint16_t) override { return answer; }
  OwnerLooks LookAt(const std::vector<std::uint32_t>& ids) override {
    looked_at.push_back(ids);
    return kLooks;
  }
};

TEST(WhoHolds, LooksOnceAtTheNamedOwnersAndPassesAFailedReadOn) {
  ScriptedHolderSteps steps;
  steps.answer = std::vector<PortListener>{V4(std::nullopt), V4(kOther), V4(kOther), V4(kUnexamined)};
  const platform::Expected<PortHolding> holding = WhoHolds(steps, 9691);
  ASSERT_TRUE(holding.ok());
  EXPECT_EQ(holding->holder, Holder::kCannotTell);
  EXPECT_EQ(steps.looked_at, (std::vector<std::vector<std::uint32_t>>{{kOther, kUnexamined}}));

  steps.answer = platform::SystemError{"GetExtendedTcpTable", 21};
  const platform::Expected<PortHolding> unread = WhoHolds(steps, 9691);
  ASSERT_FALSE(unread.ok());
  EXPECT_EQ(Describe(unread.error()), "GetExtendedTcpTable GLE=21");
}

}  // namespace
}  // namespace starter::port
