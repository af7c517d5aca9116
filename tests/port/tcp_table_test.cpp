#include "port/tcp_table.h"
#include "port/port_selection.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
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

struct Row {
  std::uint32_t state;
  std::uint16_t local_port;
  std::uint16_t remote_port = 0;
  std::uint32_t owner = 1234;
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
    Put32(bytes, row + kOwnerAt, rows[i].owner);
  }
  return bytes;
}

bool ListeningIn(const unsigned char* table, std::size_t size, std::uint16_t port) {
  return HasTcpRow<TcpRowImage>(table, size, port, kListen);
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
Bytes Ipv6Table(std::uint32_t state, std::uint16_t local_port, std::uint16_t remote_port,
                std::uint32_t owner = 1234) {
  constexpr std::size_t kRow6Bytes = 56;
  Bytes bytes(kCountBytes + kRow6Bytes, 0x11);
  Put32(bytes, 0, 1);
  PutPort(bytes, kCountBytes + 20, local_port);
  PutPort(bytes, kCountBytes + 44, remote_port);
  Put32(bytes, kCountBytes + 48, state);
  Put32(bytes, kCountBytes + 52, owner);
  return bytes;
}

TEST(HasTcpRow, ReadsIpv6RowsAtTheSystemsOffsets) {
  const auto established = [](const Bytes& table, std::size_t cut = 0) {
    return HasTcpRow<Tcp6RowImage>(table.data(), table.size() - cut, 9673, kEstablished);
  };
  EXPECT_TRUE(established(Ipv6Table(kEstablished, 9673, 443)));
  EXPECT_FALSE(established(Ipv6Table(kTimeWait, 9673, 443)));
  EXPECT_FALSE(established(Ipv6Table(kEstablished, 50000, 9673)));
  EXPECT_FALSE(established(Ipv6Table(kEstablished, 9673, 443), 1));
}

// Both tables judged for 9673 as netstat's listing of them would be.
TEST(JudgeTcpTables, AListenerNamesItsOwnerElseAConnectionAsksForAnyService) {
  using Ask = ListingVerdict::Ask;
  const struct Case {
    Bytes v4, v6;
    Ask ask;
    std::uint32_t owner;
  } cases[] = {
      {Table({{kListen, 9674}, {kEstablished, 50000, 9673}}, 2), Ipv6Table(kTimeWait, 9673, 443), Ask::kNothing, 0},
      {Table({{kEstablished, 9673}, {kListen, 9673, 0, 812}}, 2), Ipv6Table(kListen, 9673, 0, 640), Ask::kOwner, 812},
      {Table({{kEstablished, 9673}}, 1), Ipv6Table(kListen, 9673, 0, 640), Ask::kOwner, 640},
      {Table({{kListen, 9673, 0, 0}}, 1), {}, Ask::kOwner, 0},
      {Table({{kEstablished, 9673}}, 1), {}, Ask::kAnyService, 0},
      {{}, Ipv6Table(kEstablished, 9673, 443), Ask::kAnyService, 0},
  };
  for (const Case& c : cases) {
    const ListingVerdict verdict = JudgeTcpTables({c.v4, c.v6}, 9673);
    EXPECT_EQ(verdict.ask, c.ask) << &c - cases;
    EXPECT_EQ(verdict.owner_id.value_or(0), c.owner) << &c - cases;  // 0: none named
  }
}

// A read against scripted answers of the system: the size it reports when
// the buffer is too small, and its result code. `sizes`: each call's buffer.
platform::Expected<Bytes> ReadScripted(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& answers,
                                       std::vector<std::uint32_t>& sizes) {
  sizes.clear();
  return ReadTcpTable([&](void* buffer, std::uint32_t* size) {
    sizes.push_back(*size);
    const auto [reported, result] = answers.at(sizes.size() - 1);
    if (result == 0) std::memset(buffer, 0x5A, *size);
    else *size = reported;
    return result;
  });
}

// GetExtendedTcpTable codes.
constexpr std::uint32_t kNoError = 0;
constexpr std::uint32_t kTooSmall = 122;  // ERROR_INSUFFICIENT_BUFFER
constexpr std::uint32_t kInvalidParameter = 87;
constexpr std::uint32_t kNotReady = 21;  // ERROR_NOT_READY

// A busy machine's table may outgrow the first buffer, and grow again
// between the size reported and the next fill; a busy table may also answer
// a failure the next call clears. Three fills in all, never a smaller buffer.
TEST(ReadTcpTable, FillsAgainAtEachSizeReportedOrAfterAnyFailureThreeTimesInAll) {
  std::vector<std::uint32_t> sizes;
  platform::Expected<Bytes> table = ReadScripted({{0, kNoError}}, sizes);
  ASSERT_TRUE(table.ok());
  EXPECT_EQ(sizes.size(), 1u);
  EXPECT_GE(table->size(), 4u + 24u * 100u);  // a hundred IPv4 rows in one call

  table = ReadScripted({{40004, kTooSmall}, {40052, kTooSmall}, {0, kNoError}}, sizes);
  ASSERT_TRUE(table.ok());
  EXPECT_EQ(*table, Bytes(40052, 0x5A));
  EXPECT_EQ(std::vector<std::uint32_t>(sizes.begin() + 1, sizes.end()), (std::vector<std::uint32_t>{40004, 40052}));

  table = ReadScripted(std::vector<std::pair<std::uint32_t, std::uint32_t>>(10, {100, kTooSmall}), sizes);
  ASSERT_FALSE(table.ok());
  EXPECT_EQ(Describe(table.error()), "GetExtendedTcpTable GLE=122");
  EXPECT_EQ(sizes, (std::vector<std::uint32_t>{16384, 16384, 16384}));

  // A transient answer, then the table: the size it left (none here) is no smaller buffer.
  table = ReadScripted({{40004, kTooSmall}, {0, kNotReady}, {0, kNoError}}, sizes);
  ASSERT_TRUE(table.ok());
  EXPECT_EQ(sizes, (std::vector<std::uint32_t>{16384, 40004, 40004}));

  table = ReadScripted(std::vector<std::pair<std::uint32_t, std::uint32_t>>(10, {0, kInvalidParameter}), sizes);
  ASSERT_FALSE(table.ok());
  EXPECT_EQ(Describe(table.error()), "GetExtendedTcpTable GLE=87");
  EXPECT_EQ(sizes.size(), 3u);
}

}  // namespace
}  // namespace starter::port
