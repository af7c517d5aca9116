#include "port/tcp_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace starter::port {
namespace {

constexpr std::uint32_t kEstablished = 5;
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

// A table of one IPv6 row, written byte by byte where the system puts the
// fields: local port at offset 20 of the row, remote port at 44, state at 48.
std::vector<unsigned char> Ipv6Table(std::uint32_t state, std::uint16_t local, std::uint16_t remote) {
  std::vector<unsigned char> table(4 + 56, 0x11);
  const std::uint32_t count = 1, local_field = PortField(local), remote_field = PortField(remote);
  std::memcpy(&table[0], &count, 4);
  std::memcpy(&table[4 + 20], &local_field, 4);
  std::memcpy(&table[4 + 44], &remote_field, 4);
  std::memcpy(&table[4 + 48], &state, 4);
  return table;
}

TEST(HasTcpRow, ReadsIpv6RowsAtTheSystemsOffsets) {
  const auto established = [](const std::vector<unsigned char>& table, std::size_t cut = 0) {
    return HasTcpRow<Tcp6RowImage>(table.data(), table.size() - cut, 9673, kEstablished, SwapBytes);
  };
  EXPECT_TRUE(established(Ipv6Table(kEstablished, 9673, 443)));
  EXPECT_FALSE(established(Ipv6Table(kTimeWait, 9673, 443)));
  EXPECT_FALSE(established(Ipv6Table(kEstablished, 50000, 9673)));
  EXPECT_FALSE(established(Ipv6Table(kEstablished, 9673, 443), 1));
}

}  // namespace
}  // namespace starter::port
