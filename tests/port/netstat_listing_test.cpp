#include "port/netstat_listing.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace starter::port {
namespace {

using Ask = ListingVerdict::Ask;

// One row in netstat's layout, as it reaches the program through a text-mode pipe.
std::string Row(const std::string& local, const std::string& foreign, const std::string& state,
                const std::string& owner, const std::string& protocol = "TCP") {
  std::string row = "  " + protocol;
  row.resize(9, ' ');
  for (const std::string* column : {&local, &foreign, &state}) {
    row += *column;
    row.resize(row.size() + std::max<std::size_t>(1, 23 - column->size()), ' ');
  }
  return row + owner + "\n";
}

struct ListingCase {
  const char* name;
  std::string listing;
  Ask ask;
  std::uint32_t owner_id;
};

void PrintTo(const ListingCase& listing_case, std::ostream* out) { *out << listing_case.name; }

class JudgeListingTest : public ::testing::TestWithParam<ListingCase> {};

TEST_P(JudgeListingTest, ReadsTheRowsOfThePortOnly) {
  const ListingCase& c = GetParam();
  const ListingVerdict verdict = JudgeListing(c.listing, 9673);
  EXPECT_EQ(verdict.ask, c.ask);
  EXPECT_EQ(verdict.owner_id, c.owner_id);
}

const std::string kListen = Row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "4");

INSTANTIATE_TEST_SUITE_P(
    Listings, JudgeListingTest,
    ::testing::Values(
        ListingCase{"Empty", "", Ask::nothing, 0},
        ListingCase{"HeaderOnly",
                    "\nActive Connections\n\n  Proto  Local Address          Foreign Address"
                    "        State           PID\n",
                    Ask::nothing, 0},
        ListingCase{"ClosingStates",
                    Row("127.0.0.1:9673", "127.0.0.1:50000", "TIME_WAIT", "0") +
                        Row("127.0.0.1:9673", "127.0.0.1:50001", "CLOSE_WAIT", "77"),
                    Ask::nothing, 0},
        ListingCase{"UdpRows",
                    Row("0.0.0.0:9673", "*:*", "", "812", "UDP") +
                        Row("[::]:9673", "*:*", "", "812", "UDP"),
                    Ask::nothing, 0},
        ListingCase{"ListeningSystemProcess", kListen, Ask::owner, 4},
        ListingCase{"ListeningIpv6", Row("[::]:9673", "[::]:0", "LISTENING", "3120"), Ask::owner, 3120},
        ListingCase{"ListeningOneInterface", Row("192.168.1.20:9673", "0.0.0.0:0", "LISTENING", "9"),
                    Ask::owner, 9},
        ListingCase{"EstablishedOnly", Row("127.0.0.1:9673", "127.0.0.1:50000", "ESTABLISHED", "66"),
                    Ask::any_service, 0},
        ListingCase{"EstablishedIpv6", Row("[::1]:9673", "[::1]:50000", "ESTABLISHED", "66"),
                    Ask::any_service, 0},
        ListingCase{"ListeningAfterEstablished",
                    Row("127.0.0.1:9673", "127.0.0.1:50000", "ESTABLISHED", "66") + kListen,
                    Ask::owner, 4},
        ListingCase{"FirstListenerDecides",
                    Row("127.0.0.1:9673", "0.0.0.0:0", "LISTENING", "21") + kListen, Ask::owner, 21},
        ListingCase{"LongerPortsWithTheDigits",
                    Row("0.0.0.0:19673", "0.0.0.0:0", "LISTENING", "5") +
                        Row("0.0.0.0:96730", "0.0.0.0:0", "LISTENING", "6") +
                        Row("[::]:19673", "[::]:0", "LISTENING", "5"),
                    Ask::nothing, 0},
        ListingCase{"ForeignPortWithTheDigits",
                    Row("10.0.0.2:50123", "10.0.0.9:9673", "ESTABLISHED", "300") +
                        Row("10.0.0.2:50124", "10.0.0.9:9673", "LISTENING", "300"),
                    Ask::nothing, 0},
        ListingCase{"OwnerIdWithTheDigits", Row("0.0.0.0:445", "0.0.0.0:0", "LISTENING", "9673"),
                    Ask::nothing, 0},
        ListingCase{"DecoyBeforeTheRealListener",
                    Row("0.0.0.0:19673", "0.0.0.0:0", "LISTENING", "77") +
                        Row("0.0.0.0:445", "0.0.0.0:0", "LISTENING", "9673") + kListen,
                    Ask::owner, 4},
        ListingCase{"ListeningLastToken", "  TCP    0.0.0.0:9673           0.0.0.0:0              LISTENING",
                    Ask::owner, 0},
        ListingCase{"ListeningEndsItsRow",
                    "  TCP    0.0.0.0:9673   0.0.0.0:0   LISTENING\n" +
                        Row("0.0.0.0:80", "0.0.0.0:0", "LISTENING", "12"),
                    Ask::owner, 0},
        ListingCase{"TabsAndCarriageReturns", "TCP\t0.0.0.0:9673\t0.0.0.0:0\tLISTENING\t4\r\n",
                    Ask::owner, 4},
        ListingCase{"CarriageReturnAfterState", "  TCP  0.0.0.0:9673  0.0.0.0:0  LISTENING\r\n",
                    Ask::owner, 0},
        ListingCase{"OwnerNotANumber", Row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "abc"),
                    Ask::owner, 0},
        ListingCase{"OwnerTooLarge", Row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "4294967296"),
                    Ask::owner, 0},
        ListingCase{"LeadingZeroPort", Row("0.0.0.0:09673", "0.0.0.0:0", "LISTENING", "4"),
                    Ask::nothing, 0}),
    [](const ::testing::TestParamInfo<ListingCase>& param) { return param.param.name; });

// Rows of other ports that carry the port's digits somewhere, inserted
// anywhere in any listing, never change what the listing says about the port.
TEST(JudgeListing, DecoyRowsNeverChangeTheVerdict) {
  const std::vector<std::string> rows = {
      kListen,
      Row("[::]:9673", "[::]:0", "LISTENING", "15"),
      Row("127.0.0.1:9673", "127.0.0.1:50000", "ESTABLISHED", "66"),
      Row("127.0.0.1:9673", "127.0.0.1:50001", "TIME_WAIT", "0"),
      Row("0.0.0.0:9673", "*:*", "", "812", "UDP"),
      Row("0.0.0.0:80", "0.0.0.0:0", "LISTENING", "12"),
  };
  const std::vector<std::string> decoys = {
      Row("0.0.0.0:19673", "0.0.0.0:0", "LISTENING", "5"),
      Row("0.0.0.0:96730", "0.0.0.0:0", "ESTABLISHED", "6"),
      Row("10.0.0.2:50123", "10.0.0.9:9673", "ESTABLISHED", "300"),
      Row("0.0.0.0:445", "0.0.0.0:0", "LISTENING", "9673"),
      Row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "7", "UDP"),
  };
  std::mt19937 random(20240611);
  for (int round = 0; round < 500; ++round) {
    std::vector<std::string> listing;
    for (int n = std::uniform_int_distribution<int>(0, 4)(random); n > 0; --n)
      listing.push_back(rows[random() % rows.size()]);
    std::string plain;
    for (const auto& row : listing) plain += row;
    for (int n = std::uniform_int_distribution<int>(1, 4)(random); n > 0; --n)
      listing.insert(listing.begin() + random() % (listing.size() + 1), decoys[random() % decoys.size()]);
    std::string decorated;
    for (const auto& row : listing) decorated += row;

    const ListingVerdict expected = JudgeListing(plain, 9673);
    const ListingVerdict actual = JudgeListing(decorated, 9673);
    ASSERT_EQ(actual.ask, expected.ask) << decorated;
    ASSERT_EQ(actual.owner_id, expected.owner_id) << decorated;
  }
}

TEST(IsValidStartPort, AcceptsExactly1024To65535) {
  for (int port : {1024, 1025, 9673, 65535}) EXPECT_TRUE(IsValidStartPort(port)) << port;
  for (int port : {-1, 0, 80, 1023, 65536, 2147483647, -2147483647 - 1})
    EXPECT_FALSE(IsValidStartPort(port)) << port;
}

TEST(AvailabilityCommandLine, EndsInThePortDigits) {
  EXPECT_EQ(AvailabilityCommandLine(9673), "netstat -ano | findstr 9673");
  EXPECT_EQ(AvailabilityCommandLine(1024), "netstat -ano | findstr 1024");
}

}  // namespace
}  // namespace starter::port
