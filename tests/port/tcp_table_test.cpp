#include "port/tcp_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

namespace starter::port {
namespace {

constexpr std::uint32_t kEstablished = kTcpStateEstablished;
constexpr std::uint32_t kTimeWait = 11;

// What ntohs does on every host the starter runs on (little-endian).
std::uint16_t SwapBytes(std::uint16_t value) {
  return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

// A port field as the system stores it: the port's two bytes in network
// order, then two bytes that must not take part in the comparison.
std::uint32_t PortField(std::uint16_t port) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(port >> 8),
                                  static_cast<unsigned char>(port & 0xFF), 0xAB, 0xCD};
  std::uint32_t field = 0;
  std::memcpy(&field, bytes, sizeof(field));
  return field;
}

TcpRowImage Row(std::uint32_t state, std::uint16_t local_port, std::uint16_t remote_port = 0) {
  return {state, 0x0100007F, PortField(local_port), 0, PortField(remote_port), 1234};
}

std::vector<unsigned char> Table(const std::vector<TcpRowImage>& rows, std::uint32_t count) {
  std::vector<unsigned char> bytes(sizeof(count) + rows.size() * sizeof(TcpRowImage));
  std::memcpy(bytes.data(), &count, sizeof(count));
  if (!rows.empty())
    std::memcpy(bytes.data() + sizeof(count), rows.data(), rows.size() * sizeof(TcpRowImage));
  return bytes;
}

bool Listening(const std::vector<TcpRowImage>& rows, std::uint16_t port) {
  const auto table = Table(rows, static_cast<std::uint32_t>(rows.size()));
  return HasTcpRow<TcpRowImage>(table.data(), table.size(), port, kTcpStateListen, SwapBytes);
}

TEST(HasTcpRow, MatchesOnlyListeningRowsOnTheLocalPort) {
  EXPECT_TRUE(Listening({Row(kTcpStateListen, 9673)}, 9673));
  EXPECT_FALSE(Listening({Row(kTcpStateListen, 9673)}, 9674));
  EXPECT_FALSE(Listening({Row(kEstablished, 9673), Row(kTimeWait, 9673)}, 9673));
  EXPECT_FALSE(Listening({Row(kEstablished, 50000, 9673)}, 9673));
  EXPECT_FALSE(Listening({Row(kTcpStateListen, 9673)}, 0));
  EXPECT_FALSE(Listening({}, 9673));
  // 0x25C9 read without the byte-order conversion would be 0xC925.
  EXPECT_FALSE(Listening({Row(kTcpStateListen, 9673)}, 0xC925));
}

TEST(HasTcpRow, FindsTheRowWhereverItStands) {
  std::vector<TcpRowImage> rows(500, Row(kEstablished, 9673));
  rows.push_back(Row(kTcpStateListen, 65535));
  EXPECT_TRUE(Listening(rows, 65535));
  rows.front() = Row(kTcpStateListen, 1);
  EXPECT_TRUE(Listening(rows, 1));
}

TEST(HasTcpRow, NeverReadsRowsTheBufferDoesNotHold) {
  // The count claims three rows; the matching third one lies past the end.
  auto table = Table({Row(kEstablished, 1), Row(kEstablished, 2), Row(kTcpStateListen, 9673)}, 3);
  table.resize(table.size() - 1);
  const auto listening = [](const std::vector<unsigned char>& bytes, std::size_t size) {
    return HasTcpRow<TcpRowImage>(bytes.data(), size, 9673, kTcpStateListen, SwapBytes);
  };
  EXPECT_FALSE(listening(table, table.size()));
  EXPECT_FALSE(listening(table, 3));
  // Rows beyond the count are not rows of the table.
  const auto counted = Table({Row(kEstablished, 1), Row(kTcpStateListen, 9673)}, 1);
  EXPECT_FALSE(listening(counted, counted.size()));
}

// IPv6 rows written byte by byte at the places the system puts their fields:
// 16-byte local address, scope id, local port (offset 20), 16-byte remote
// address, scope id, remote port (44), state (48), owner (52).
std::vector<unsigned char> Ipv6Table(
    const std::vector<std::pair<std::uint32_t, std::uint16_t>>& state_and_port,
    std::uint16_t remote_port = 443) {
  std::vector<unsigned char> bytes(4 + 56 * state_and_port.size(), 0x11);
  const auto count = static_cast<std::uint32_t>(state_and_port.size());
  std::memcpy(bytes.data(), &count, sizeof(count));
  for (std::size_t i = 0; i < state_and_port.size(); ++i) {
    unsigned char* row = bytes.data() + 4 + 56 * i;
    const std::uint32_t local = PortField(state_and_port[i].second);
    const std::uint32_t remote = PortField(remote_port);
    std::memcpy(row + 20, &local, 4);
    std::memcpy(row + 44, &remote, 4);
    std::memcpy(row + 48, &state_and_port[i].first, 4);
  }
  return bytes;
}

TEST(HasTcpRow, ReadsIpv6RowsAtTheSystemsOffsets) {
  const auto connected = [](const std::vector<unsigned char>& table, std::uint16_t port) {
    return HasTcpRow<Tcp6RowImage>(table.data(), table.size(), port, kEstablished, SwapBytes);
  };
  const auto table = Ipv6Table({{kTcpStateListen, 9673}, {kTimeWait, 9674}, {kEstablished, 9675}});
  EXPECT_TRUE(connected(table, 9675));
  EXPECT_FALSE(connected(table, 9673));
  EXPECT_FALSE(connected(table, 9674));
  EXPECT_TRUE(HasTcpRow<Tcp6RowImage>(table.data(), table.size(), 9673, kTcpStateListen, SwapBytes));
  // The remote port is not the local one.
  EXPECT_FALSE(connected(Ipv6Table({{kEstablished, 50000}}, 9673), 9673));
  // The third row does not fit a buffer cut inside it.
  EXPECT_FALSE(connected(std::vector<unsigned char>(table.begin(), table.end() - 1), 9675));
}

TEST(HasTcpRow, FindsEstablishedIpv4RowsOnTheLocalPortOnly) {
  const auto connected = [](const std::vector<TcpRowImage>& rows, std::uint16_t port) {
    const auto table = Table(rows, static_cast<std::uint32_t>(rows.size()));
    return HasTcpRow<TcpRowImage>(table.data(), table.size(), port, kEstablished, SwapBytes);
  };
  EXPECT_TRUE(connected({Row(kTcpStateListen, 9673), Row(kEstablished, 9673, 50000)}, 9673));
  EXPECT_FALSE(connected({Row(kTcpStateListen, 9673), Row(kTimeWait, 9673)}, 9673));
  EXPECT_FALSE(connected({Row(kEstablished, 50000, 9673)}, 9673));
}

}  // namespace
}  // namespace starter::port
