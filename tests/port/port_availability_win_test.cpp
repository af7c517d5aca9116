#include "port/port_selection.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "platform/handles.h"
#include "port/netstat_rows.h"
#include "support/product_internals.h"
#include "support/port_env.h"
#include "service/process_detection.h"
#include "support/log_capture.h"
#include "support/win_test_env.h"

namespace starter::port {
namespace {

using ::testing::ElementsAre;

std::string Row(const std::string& local, const std::string& foreign, const std::string& state,
                const std::string& owner, const std::string& protocol = "TCP") {
  return test::NetstatRow(local, foreign, state, owner, protocol, "\r\n");
}

// The machine's bind, as one selection makes it. A refusal cannot be staged
// here (as root every bind succeeds); the other two answers can.
platform::Status Bind(std::uint16_t port) {
  return MachinePortSteps().TryBind(port);
}

TEST(TryBindPort, BindsAFreePortAndFailsOnAnAddressInUse) {
  platform::WinsockSession winsock;
  platform::UniqueSocket listener;
  const std::uint16_t port = test::ListenV4(listener, INADDR_LOOPBACK);
  ASSERT_NE(port, 0);
  const platform::Status in_use = Bind(port);
  ASSERT_FALSE(in_use.ok());
  EXPECT_EQ(Describe(in_use.error()), "bind GLE=" + std::to_string(WSAEADDRINUSE));
  listener.reset();
  EXPECT_TRUE(test::WaitFor([port] { return Bind(port).ok(); }));
}

TEST(IsPortAvailable, PortsOutsideTheUserRangeAreRefused) {
  test::StandinListing netstat;
  test::LogCapture log;
  EXPECT_FALSE(test::IsPortAvailable(1023));
  EXPECT_FALSE(test::IsPortAvailable(65536));
  EXPECT_FALSE(test::IsPortAvailable(-1));
  EXPECT_TRUE(test::IsPortAvailable(1024));
  EXPECT_TRUE(test::IsPortAvailable(65535));
  EXPECT_THAT(log.Lines(),
              ElementsAre("info: Invalid start port: 1023", "info: Invalid start port: 65536",
                          "info: Invalid start port: -1"));
}

TEST(IsPortAvailable, JudgesTheListingWithoutAService) {
  test::StandinListing netstat;
  struct Case {
    const char* name;
    std::string rows;
    bool available;
  } cases[] = {
      {"no rows", "", true},
      {"listener 4", Row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "4"), false},
      {"established", Row("127.0.0.1:9673", "127.0.0.1:50000", "ESTABLISHED", "66"), false},
      {"longer ports",
       Row("0.0.0.0:19673", "0.0.0.0:0", "LISTENING", "5") +
           Row("0.0.0.0:96730", "0.0.0.0:0", "LISTENING", "5"),
       true},
      {"foreign port and owner id",
       Row("10.0.0.2:50123", "10.0.0.9:9673", "ESTABLISHED", "300") +
           Row("0.0.0.0:445", "0.0.0.0:0", "LISTENING", "9673"),
       true},
  };
  for (const Case& c : cases) {
    netstat.ShowListing(Row("0.0.0.0:80", "0.0.0.0:0", "LISTENING", "8") + c.rows);
    EXPECT_EQ(test::IsPortAvailable(9673), c.available) << c.name;
  }
}

TEST(IsPortAvailable, PortHeldByTheServiceStaysAvailable) {
  test::StandinListing netstat;
  test::FakeVanticService vantic;
  ASSERT_NE(vantic.ProcessId(), 0u);
  ASSERT_TRUE(test::WaitFor([&] {
    const auto looks = service::MachineProcesses().LookAt({vantic.ProcessId()});
    return looks.ok() && looks->at(vantic.ProcessId()).identity == service::Identity::kService;
  }));
  const std::string pid = std::to_string(vantic.ProcessId());

  netstat.ShowListing(Row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", pid));
  EXPECT_TRUE(test::IsPortAvailable(9673));
  netstat.ShowListing(Row("127.0.0.1:9673", "127.0.0.1:50000", "ESTABLISHED", "66"));
  EXPECT_TRUE(test::IsPortAvailable(9673));
  // The first listener decides, even while a service runs.
  netstat.ShowListing(Row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "4") +
                       Row("[::]:9673", "[::]:0", "LISTENING", pid));
  EXPECT_FALSE(test::IsPortAvailable(9673));
}

// On a German system an established connection shows as HERGESTELLT: the
// machine's own tables tell whether one holds the port.
TEST(IsPortAvailable, TranslatedConnectionsAreLookedUpInTheMachineTables) {
  test::StandinListing netstat;
  platform::WinsockSession winsock;
  platform::UniqueSocket listener;
  const std::uint16_t port = test::ListenV4(listener, INADDR_LOOPBACK);
  ASSERT_NE(port, 0);
  sockaddr_in target{AF_INET, htons(port), {}, {}};
  target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  platform::UniqueSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  ASSERT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&target), sizeof(target)), 0);
  platform::UniqueSocket accepted(::accept(listener.get(), nullptr, nullptr));
  listener.reset();
  // A port held bound on every IPv4 address is never a connection's local port.
  platform::UniqueSocket held(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in any{AF_INET, 0, {}, {}};
  ASSERT_EQ(::bind(held.get(), reinterpret_cast<sockaddr*>(&any), sizeof(any)), 0);

  for (const std::uint16_t candidate : {port, test::LocalPort(held)}) {
    const std::string local = "127.0.0.1:" + std::to_string(candidate);
    netstat.ShowListing(Row(local, "127.0.0.1:50000", "HERGESTELLT", "66"));
    EXPECT_EQ(test::IsPortAvailable(candidate), candidate != port) << candidate;
  }
}

TEST(IsPortAvailable, SeesARealListenerInTheMachineTable) {
  test::StandinListing netstat;
  netstat.ShowMachineTable();
  platform::WinsockSession winsock;
  platform::UniqueSocket listener;
  const std::uint16_t port = test::ListenV4(listener, INADDR_LOOPBACK);
  ASSERT_NE(port, 0);
  EXPECT_FALSE(test::IsPortAvailable(port));
  listener.reset();
  EXPECT_TRUE(test::WaitFor([port] { return test::IsPortAvailable(port); }));
}

}  // namespace
}  // namespace starter::port
