#include "port/netstat_listing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "port/netstat_rows.h"

namespace starter::port {
namespace {

using Ask = ListingVerdict::Ask;
using std::chrono::milliseconds;

// Rows as they reach the program through a text-mode pipe, with LF line ends.
using test::NetstatRow;

struct ListingCase {
  const char* name;
  std::string listing;
  Ask ask;
  std::uint32_t owner_id;
};

void PrintTo(const ListingCase& listing_case, std::ostream* out) { *out << listing_case.name; }

class JudgeListingTest : public ::testing::TestWithParam<ListingCase> {};

// Rows that findstr lets through for 9673 although they are not the port's:
// they must change nothing, wherever they stand.
const std::string kDecoys = NetstatRow("0.0.0.0:19673", "0.0.0.0:0", "LISTENING", "5") +
                            NetstatRow("[::]:96730", "[::]:0", "ESTABLISHED", "6") +
                            NetstatRow("10.0.0.2:50123", "10.0.0.9:9673", "ESTABLISHED", "300") +
                            NetstatRow("0.0.0.0:445", "0.0.0.0:0", "LISTENING", "9673") +
                            NetstatRow("0.0.0.0:9673", "*:*", "LISTENING", "7", "UDP") +
                            NetstatRow("[::]:19673", "[::]:0", "ABH\x99REN", "8") +
                            NetstatRow("10.0.0.2:50125", "10.0.0.9:9673", "HERGESTELLT", "301");

std::string WithDecoysAfterEachLine(std::string listing) {
  for (auto end = listing.find('\n'); end != std::string::npos; end = listing.find('\n', end + 1)) {
    listing.insert(end + 1, kDecoys);
    end += kDecoys.size();
  }
  return listing;
}

TEST_P(JudgeListingTest, ReadsTheRowsOfThePortOnly) {
  const ListingCase& c = GetParam();
  for (const std::string& listing :
       {c.listing, kDecoys + c.listing, WithDecoysAfterEachLine(c.listing)}) {
    const ListingVerdict verdict = JudgeListing(listing, 9673);
    EXPECT_EQ(verdict.ask, c.ask) << listing;
    EXPECT_EQ(verdict.owner_id.value_or(0), c.owner_id) << listing;  // 0: none named
  }
}

const std::string kListen = NetstatRow("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "4");

INSTANTIATE_TEST_SUITE_P(
    Listings, JudgeListingTest,
    ::testing::Values(
        ListingCase{"Empty", "", Ask::kNothing, 0},
        ListingCase{"HeaderOnly",
                    "\nActive Connections\n\n  Proto  Local Address          Foreign Address"
                    "        State           PID\n",
                    Ask::kNothing, 0},
        ListingCase{"ClosingStates",
                    NetstatRow("127.0.0.1:9673", "127.0.0.1:50000", "TIME_WAIT", "0") +
                        NetstatRow("127.0.0.1:9673", "127.0.0.1:50001", "CLOSE_WAIT", "77"),
                    Ask::kNothing, 0},
        ListingCase{"UdpRows",
                    NetstatRow("0.0.0.0:9673", "*:*", "", "812", "UDP") +
                        NetstatRow("[::]:9673", "*:*", "", "812", "UDP"),
                    Ask::kNothing, 0},
        ListingCase{"ListeningSystemProcess", kListen, Ask::kOwner, 4},
        ListingCase{"ListeningIpv6", NetstatRow("[::]:9673", "[::]:0", "LISTENING", "3120"),
                    Ask::kOwner, 3120},
        ListingCase{"ListeningOneInterface",
                    NetstatRow("192.168.1.20:9673", "0.0.0.0:0", "LISTENING", "9"), Ask::kOwner, 9},
        ListingCase{"EstablishedOnly",
                    NetstatRow("127.0.0.1:9673", "127.0.0.1:50000", "ESTABLISHED", "66"),
                    Ask::kAnyService, 0},
        ListingCase{"EstablishedIpv6", NetstatRow("[::1]:9673", "[::1]:50000", "ESTABLISHED", "66"),
                    Ask::kAnyService, 0},
        ListingCase{"ListeningAfterEstablished",
                    NetstatRow("127.0.0.1:9673", "127.0.0.1:50000", "ESTABLISHED", "66") + kListen,
                    Ask::kOwner, 4},
        ListingCase{"FirstListenerDecides",
                    NetstatRow("127.0.0.1:9673", "0.0.0.0:0", "LISTENING", "21") + kListen,
                    Ask::kOwner, 21},
        ListingCase{"LongerPortsWithTheDigits",
                    NetstatRow("0.0.0.0:19673", "0.0.0.0:0", "LISTENING", "5") +
                        NetstatRow("0.0.0.0:96730", "0.0.0.0:0", "LISTENING", "6") +
                        NetstatRow("[::]:19673", "[::]:0", "LISTENING", "5"),
                    Ask::kNothing, 0},
        ListingCase{"ForeignPortWithTheDigits",
                    NetstatRow("10.0.0.2:50123", "10.0.0.9:9673", "ESTABLISHED", "300") +
                        NetstatRow("10.0.0.2:50124", "10.0.0.9:9673", "LISTENING", "300"),
                    Ask::kNothing, 0},
        ListingCase{"OwnerIdWithTheDigits",
                    NetstatRow("0.0.0.0:445", "0.0.0.0:0", "LISTENING", "9673"), Ask::kNothing, 0},
        ListingCase{"ListeningLastToken",
                    "  TCP    0.0.0.0:9673           0.0.0.0:0              LISTENING", Ask::kOwner,
                    0},
        ListingCase{"ListeningEndsItsRow",
                    "  TCP    0.0.0.0:9673   0.0.0.0:0   LISTENING\n" +
                        NetstatRow("0.0.0.0:80", "0.0.0.0:0", "LISTENING", "12"),
                    Ask::kOwner, 0},
        ListingCase{"TabsAndCarriageReturns", "TCP\t0.0.0.0:9673\t0.0.0.0:0\tLISTENING\t4\r\n",
                    Ask::kOwner, 4},
        ListingCase{"CarriageReturnAfterState", "  TCP  0.0.0.0:9673  0.0.0.0:0  LISTENING\r\n",
                    Ask::kOwner, 0},
        ListingCase{"OwnerNotANumber", NetstatRow("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "abc"),
                    Ask::kOwner, 0},
        ListingCase{"OwnerTooLarge",
                    NetstatRow("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "4294967296"), Ask::kOwner,
                    0},
        // Translated states, in code page 850 bytes: a listener shows by its
        // wildcard foreign address, its owner is the last column.
        ListingCase{"GermanListening",
                    NetstatRow("0.0.0.0:9673", "0.0.0.0:0", "ABH\x99REN", "1032"), Ask::kOwner, 1032},
        ListingCase{"FrenchTwoWordListening",
                    NetstatRow("[::]:9673", "[::]:0", "\xB7 L'\x90" "COUTE", "2048"), Ask::kOwner, 2048},
        ListingCase{"SpanishListeningOneInterface",
                    NetstatRow("192.168.1.20:9673", "0.0.0.0:0", "ESCUCHANDO", "9"), Ask::kOwner, 9},
        ListingCase{"TranslatedConnectionsAskTheTables",
                    NetstatRow("127.0.0.1:9673", "127.0.0.1:50000", "HERGESTELLT", "66") +
                        NetstatRow("[::1]:9673", "[::1]:50001", "\x90TABLIE", "0"),
                    Ask::kConnectionTables, 0},
        ListingCase{"MixedFamiliesEnglishAndGerman",
                    NetstatRow("[::1]:9673", "[::1]:50000", "HERGESTELLT", "66") +
                        NetstatRow("127.0.0.1:9673", "127.0.0.1:50000", "ESTABLISHED", "66"),
                    Ask::kAnyService, 0},
        ListingCase{"LeadingZeroPort", NetstatRow("0.0.0.0:09673", "0.0.0.0:0", "LISTENING", "4"),
                    Ask::kNothing, 0}),
    [](const ::testing::TestParamInfo<ListingCase>& param) { return param.param.name; });

TEST(AvailabilityCommandLine, EndsInThePortDigits) {
  EXPECT_EQ(AvailabilityCommandLine(9673), "netstat -ano | findstr 9673");
  EXPECT_EQ(AvailabilityCommandLine(1024), "netstat -ano | findstr 1024");
}

TEST(ListingBudget, EachListingGetsItsLimitOrWhatIsLeftOfTheTotalUntilOneRunsOut) {
  const ListingBudget::Clock::time_point start{std::chrono::seconds(1000)};
  ListingBudget budget(milliseconds(5000), milliseconds(10000));
  // The total runs from the first listing, not from the budget's making.
  EXPECT_EQ(budget.Left(start + milliseconds(60000)), milliseconds(5000));
  EXPECT_EQ(budget.Left(start + milliseconds(66200)), milliseconds(3800));
  EXPECT_EQ(budget.Left(start + milliseconds(70000)), milliseconds(0));
  ListingBudget held_up(milliseconds(5000), milliseconds(10000));
  EXPECT_EQ(held_up.Left(start), milliseconds(5000));
  held_up.RanOut();
  EXPECT_EQ(held_up.Left(start + milliseconds(5000)), milliseconds(0));
}

}  // namespace
}  // namespace starter::port
