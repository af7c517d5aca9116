// The listeners the wait reads in each poll, from the machine's tables:
// IPv4 listeners while they listen, and nothing else.
#include "port/tcp_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "support/port_env.h"
#include "support/win_test_env.h"

namespace starter::port {
namespace {

using platform::UniqueSocket;
using test::ListenV4;

// Whether an IPv4 socket listens on `port`, as the wait's port check counts them.
bool IsPortListening(std::uint16_t port) {
  const platform::Expected<std::vector<PortListener>> listeners = MachineListenerSteps().Listeners(port);
  return listeners.ok() &&
         std::any_of(listeners->begin(), listeners->end(), [](const PortListener& listener) { return !listener.ipv6; });
}

TEST(WaitListeners, SeesIpv4ListenersUntilTheyClose) {
  platform::WinsockSession winsock;
  for (ULONG address : std::initializer_list<ULONG>{INADDR_LOOPBACK, INADDR_ANY}) {
    UniqueSocket listener;
    const std::uint16_t port = ListenV4(listener, address);
    ASSERT_NE(port, 0) << address;
    EXPECT_TRUE(IsPortListening(port)) << address;
    listener.reset();
    EXPECT_TRUE(test::WaitFor([port] { return !IsPortListening(port); })) << address;
  }
  EXPECT_FALSE(IsPortListening(0));
}

TEST(WaitListeners, ConnectionsOnThePortAreNotListeners) {
  platform::WinsockSession winsock;
  UniqueSocket listener;
  const std::uint16_t port = ListenV4(listener, INADDR_LOOPBACK);
  ASSERT_NE(port, 0);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  target.sin_port = htons(port);
  UniqueSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  ASSERT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&target), sizeof(target)), 0);
  UniqueSocket accepted(::accept(listener.get(), nullptr, nullptr));
  ASSERT_NE(accepted.get(), INVALID_SOCKET);
  listener.reset();

  // The accepted socket keeps the port as its local port, established.
  EXPECT_TRUE(test::WaitFor([port] { return !IsPortListening(port); }));
  EXPECT_FALSE(IsPortListening(test::LocalPort(client)));
}

TEST(WaitListeners, Ipv6OnlyListenersAreNotSeen) {
  platform::WinsockSession winsock;
  UniqueSocket v6_listener;
  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  v6.sin6_addr = in6addr_loopback;
  const std::uint16_t v6_port =
      test::Listen(v6_listener, reinterpret_cast<sockaddr*>(&v6), sizeof(v6));
  if (v6_port == 0) GTEST_SKIP() << "no IPv6 loopback on this machine";
  UniqueSocket v4_listener;
  const std::uint16_t v4_port = ListenV4(v4_listener, INADDR_LOOPBACK);
  ASSERT_NE(v4_port, 0);
  EXPECT_TRUE(IsPortListening(v4_port));
  EXPECT_FALSE(IsPortListening(v6_port));
}

}  // namespace
}  // namespace starter::port
