// The one judge of who holds the service's port, which the starter's wait
// and the status report both ask: each row is a machine the two once read
// differently, or one where a "cannot tell" was taken for a "no".
#include "port/port_holder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/owner_looks.h"

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
      {"an owner no look answered for (no process list)", {V4(9999)}, Holder::kNobody, false, ""},
      {"an unlooked owner beside another program", {V4(9999), V4(kOther)}, Holder::kOtherProgram, false,
       "port 9691 held by process 777 (other\\x1B.exe), no Vantic service"},
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

// One look, at each named owner once in table order (IPv6 listeners' too:
// the status report shows them); without a process list, no answer at all.
TEST(JudgeHolder, TakesOneLookAtEachNamedOwnerAndNoneWithoutAProcessList) {
  test::ScriptedOwnerLooks processes;
  processes.processes = kLooks;
  const std::vector<PortListener> listeners = {V4(kOther), V4(std::nullopt), V6(kService), V4(kOther),
                                               V4(kUnexamined)};
  const platform::Expected<PortHolding> holding = JudgeHolder(listeners, processes);
  ASSERT_TRUE(holding.ok());
  EXPECT_EQ(holding->holder, Holder::kCannotTell);
  EXPECT_EQ(processes.looked_at, (std::vector<std::vector<std::uint32_t>>{{kOther, kService, kUnexamined}}));

  processes.processes = platform::SystemError{"CreateToolhelp32Snapshot", 5};
  const platform::Expected<PortHolding> unanswered = JudgeHolder({V4(kService)}, processes);
  ASSERT_FALSE(unanswered.ok());
  EXPECT_EQ(Describe(unanswered.error()), "CreateToolhelp32Snapshot GLE=5");
}

// The selection's rule for the same owner: only one known to be the service
// keeps the port for it, whether a service runs or not. Another account's
// java.exe gave the port up while a service ran: the new service could not
// bind it.
TEST(OwnerLeavesPortToService, OnlyAnOwnerKnownToBeTheServiceOrUnnamedBesideARunningOne) {
  const struct Case {
    const char* name;
    std::optional<Identity> owner;
    bool service_runs;
    bool leaves_port;
  } cases[] = {
      {"the service", Identity::kService, false, true},
      {"a java.exe that cannot be examined, a service running", Identity::kCannotTell, true, false},
      {"a java.exe that cannot be examined", Identity::kCannotTell, false, false},
      {"another program, a service running", Identity::kOtherProgram, true, false},
      {"an owner that ended since the listing", Identity::kEnded, true, false},
      {"no owner named, a service running", std::nullopt, true, true},
      {"no owner named, no service known", std::nullopt, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OwnerLeavesPortToService(c.owner, c.service_runs), c.leaves_port);
  }
}

}  // namespace
}  // namespace starter::port
