#include "port/tcp_table.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace starter::port {
namespace {

using Bytes = std::vector<unsigned char>;

// The table as IP Helper lays it out, written out by hand so that a wrong
// row type or state constant in the reader shows here: a 32-bit entry count,
// then rows of six 32-bit fields, all little-endian.
constexpr std::size_t kCountBytes = 4;
constexpr std::size_t kRowBytes = 24;
constexpr std::size_t kStateAt = 0;
constexpr std::size_t kLocalAddressAt = 4;
constexpr std::size_t kLocalPortAt = 8;
constexpr std::size_t kRemoteAddressAt = 12;
constexpr std::size_t kRemotePortAt = 16;
constexpr std::size_t kOwnerAt = 20;

// MIB_TCP_STATE values.
constexpr std::uint32_t kListen = 2;
constexpr std::uint32_t kEstablished = 5;
constexpr std::uint32_t kTimeWait = 11;

// What ntohs does on every host the starter runs on (little-endian).
std::uint16_t SwapBytes(std::uint16_t value) {
  return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

struct Row {
  std::uint32_t state;
  std::uint16_t local_port;
  std::uint16_t remote_port = 0;
};

void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<unsigned char>(value >> (8 * i));
}

// A port field as the system stores it: the port's two bytes in network
// order, then two bytes that must not take part in the comparison.
void PutPort(Bytes& bytes, std::size_t offset, std::uint16_t port) {
  bytes.at(offset) = static_cast<unsigned char>(port >> 8);
  bytes.at(offset + 1) = static_cast<unsigned char>(port & 0xFF);
  bytes.at(offset + 2) = 0xAB;
  bytes.at(offset + 3) = 0xCD;
}

// `rows` laid out one after the other behind an entry count of `count`.
Bytes Table(const std::vector<Row>& rows, std::uint32_t count) {
  Bytes bytes(kCountBytes + rows.size() * kRowBytes, 0xEE);
  Put32(bytes, 0, count);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::size_t row = kCountBytes + i * kRowBytes;
    Put32(bytes, row + kStateAt, rows[i].state);
    Put32(bytes, row + kLocalAddressAt, 0x0100007F);  // 127.0.0.1
    PutPort(bytes, row + kLocalPortAt, rows[i].local_port);
    Put32(bytes, row + kRemoteAddressAt, 0);
    PutPort(bytes, row + kRemotePortAt, rows[i].remote_port);
    Put32(bytes, row + kOwnerAt, 1234);
  }
  return bytes;
}

bool ListeningIn(const unsigned char* table, std::size_t size, std::uint16_t port) {
  return HasTcpRow<TcpRowImage>(table, size, port, kListen, SwapBytes);
}

bool Listening(const std::vector<Row>& rows, std::uint16_t port) {
  const Bytes table = Table(rows, static_cast<std::uint32_t>(rows.size()));
  return ListeningIn(table.data(), table.size(), port);
}

TEST(HasTcpRow, MatchesOnlyListeningRowsOnTheLocalPort) {
  EXPECT_TRUE(Listening({{kListen, 9673}}, 9673));
  EXPECT_FALSE(Listening({{kListen, 9673}}, 9674));
  EXPECT_FALSE(Listening({{kEstablished, 9673}, {kTimeWait, 9673}}, 9673));
  // Every other state a row can be in, CLOSED (1) to DELETE_TCB (12).
  for (std::uint32_t state = 1; state <= 12; ++state) {
    if (state != kListen) {
      EXPECT_FALSE(Listening({{state, 9673}}, 9673)) << state;
    }
  }
  EXPECT_FALSE(Listening({{kEstablished, 50000, 9673}}, 9673));
  EXPECT_FALSE(Listening({{kListen, 50000, 9673}}, 9673));
  EXPECT_FALSE(Listening({{kListen, 9673}}, 0));
  EXPECT_FALSE(Listening({}, 9673));
  // 0x25C9 read without the byte-order conversion would be 0xC925.
  EXPECT_FALSE(Listening({{kListen, 9673}}, 0xC925));
  // The field's upper two bytes (0xAB 0xCD) read as a port in network order.
  EXPECT_FALSE(Listening({{kListen, 9673}}, 0xABCD));
}

TEST(HasTcpRow, FindsTheRowWhereverItStands) {
  std::vector<Row> rows(500, Row{kEstablished, 9673});
  rows.push_back({kListen, 65535});
  EXPECT_TRUE(Listening(rows, 65535));
  rows.front() = {kListen, 1};
  EXPECT_TRUE(Listening(rows, 1));
}

// The system's buffer is only byte-aligned as far as the reader knows.
TEST(HasTcpRow, ReadsATableThatStartsAtAnOddAddress) {
  const Bytes table = Table({{kEstablished, 1}, {kListen, 9673}}, 2);
  Bytes shifted(1, 0);
  shifted.insert(shifted.end(), table.begin(), table.end());
  EXPECT_TRUE(ListeningIn(shifted.data() + 1, table.size(), 9673));
}

TEST(HasTcpRow, NeverReadsRowsTheBufferDoesNotHold) {
  // The count claims three rows; the matching third one lies past the end.
  Bytes table = Table({{kEstablished, 1}, {kEstablished, 2}, {kListen, 9673}}, 3);
  table.resize(table.size() - 1);
  EXPECT_FALSE(ListeningIn(table.data(), table.size(), 9673));
  EXPECT_FALSE(ListeningIn(table.data(), 3, 9673));
  // Rows beyond the count are not rows of the table.
  const Bytes counted = Table({{kEstablished, 1}, {kListen, 9673}}, 1);
  EXPECT_FALSE(ListeningIn(counted.data(), counted.size(), 9673));
}

// One IPv6 row, written where the system puts its fields: two 16-byte
// addresses each followed by a scope id and a port, then state and owner.
Bytes Ipv6Table(std::uint32_t state, std::uint16_t local_port, std::uint16_t remote_port) {
  constexpr std::size_t kRow6Bytes = 56;
  Bytes bytes(kCountBytes + kRow6Bytes, 0x11);
  Put32(bytes, 0, 1);
  PutPort(bytes, kCountBytes + 20, local_port);
  PutPort(bytes, kCountBytes + 44, remote_port);
  Put32(bytes, kCountBytes + 48, state);
  return bytes;
}

TEST(HasTcpRow, ReadsIpv6RowsAtTheSystemsOffsets) {
  const auto established = [](const Bytes& table, std::size_t cut = 0) {
    return HasTcpRow<Tcp6RowImage>(table.data(), table.size() - cut, 9673, kEstablished, SwapBytes);
  };
  EXPECT_TRUE(established(Ipv6Table(kEstablished, 9673, 443)));
  EXPECT_FALSE(established(Ipv6Table(kTimeWait, 9673, 443)));
  EXPECT_FALSE(established(Ipv6Table(kEstablished, 50000, 9673)));
  EXPECT_FALSE(established(Ipv6Table(kEstablished, 9673, 443), 1));
}

}  // namespace
}  // namespace starter::port
