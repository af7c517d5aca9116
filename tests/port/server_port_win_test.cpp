#include "port/server_port.h"

#include "platform/handles.h"
#include "platform/winsock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "port/netstat_rows.h"
#include "port/port_selection.h"
#include "service/process_detection.h"
#include "support/port_env.h"
#include "support/log_capture.h"
#include "support/win_test_env.h"

namespace starter::port {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using test::StoredServerPort;

constexpr wchar_t kVendorKey[] = L"SOFTWARE\\dadevuvidi";
constexpr wchar_t kPortKey[] = L"SOFTWARE\\dadevuvidi\\Corvel\\Vantic";

platform::UniqueKey CreateKey(const wchar_t* path, DWORD options = REG_OPTION_NON_VOLATILE) {
  platform::UniqueKey key;
  ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, options, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                    nullptr, key.put(), nullptr);
  return key;
}

void StoreValue(DWORD type, const void* data, DWORD size) {
  platform::UniqueKey key = CreateKey(kPortKey);
  ASSERT_TRUE(key);
  ASSERT_EQ(
      ::RegSetValueExW(key.get(), L"ServerPort", 0, type, static_cast<const BYTE*>(data), size),
      ERROR_SUCCESS);
}

std::string Listener(int port) {
  return test::NetstatRow("0.0.0.0:" + std::to_string(port), "0.0.0.0:0", "LISTENING", "4", "TCP",
                          "\r\n");
}

// Against the real registry, with the vendor key removed before and after.
class SelectServerPortTest : public ::testing::Test {
 protected:
  void SetUp() override { test::DeleteVendorKey(); }
  void TearDown() override { test::DeleteVendorKey(); }

  test::StandinListing netstat_;
};

TEST_F(SelectServerPortTest, FirstRunCreatesTheKeyWith9673) {
  test::LogCapture log;
  EXPECT_EQ(SelectServerPort(), 9673);
  EXPECT_EQ(StoredServerPort(), 9673u);
  EXPECT_THAT(log.Lines(), ElementsAre("info: RegOpenKeyEx Error: 2"));
}

TEST_F(SelectServerPortTest, UsableStoredPortIsKept) {
  const DWORD stored = 9690;
  StoreValue(REG_DWORD, &stored, sizeof(stored));
  netstat_.ShowListing(Listener(9673));
  test::LogCapture log;
  EXPECT_EQ(SelectServerPort(), 9690);
  EXPECT_EQ(StoredServerPort(), 9690u);
  EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(SelectServerPortTest, TakenStoredPortMovesOnAndWraps) {
  const DWORD stored = 9700;
  StoreValue(REG_DWORD, &stored, sizeof(stored));
  netstat_.ShowListing(Listener(9700));
  test::LogCapture log;
  EXPECT_EQ(SelectServerPort(), 9673);
  EXPECT_EQ(StoredServerPort(), 9673u);
  EXPECT_THAT(log.Lines(), ElementsAre("info: port 9700 is not available"));
}

TEST_F(SelectServerPortTest, ValuesOfAnotherTypeAreNotUsed) {
  StoreValue(REG_SZ, L"x", 2 * sizeof(wchar_t));  // four bytes: read, then refused for its type
  const platform::Expected<std::uint32_t> read = ReadServerPort(RegistryView::k64Bit);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().code, static_cast<std::uint32_t>(ERROR_DATATYPE_MISMATCH));
  test::LogCapture short_log;
  netstat_.ShowListing(Listener(9674));
  EXPECT_EQ(SelectServerPort(), 9673);
  EXPECT_THAT(short_log.Lines(), IsEmpty());

  const ULONGLONG wide = 9690;  // eight bytes do not fit the read
  StoreValue(REG_QWORD, &wide, sizeof(wide));
  test::LogCapture long_log;
  EXPECT_EQ(SelectServerPort(), 9673);
  EXPECT_THAT(long_log.Lines(), ElementsAre("info: RegQueryValueEx Error: 234"));
  EXPECT_EQ(StoredServerPort(), 9673u);
}

TEST_F(SelectServerPortTest, EveryPortTakenStoresZero) {
  const DWORD stored = 9690;
  StoreValue(REG_DWORD, &stored, sizeof(stored));
  std::string rows;
  std::vector<std::string> lines;
  for (int i = 0; i < 28; ++i) {
    const int port = 9673 + (9690 - 9673 + i) % 28;
    rows += Listener(port);
    lines.push_back("info: port " + std::to_string(port) + " is not available");
  }
  lines.push_back("info: ports between [9673, 9700] are all used");
  netstat_.ShowListing(rows);
  // The tables show the same listeners: on a busy machine the listings of
  // the selection run out of their shared time, and the ports left are
  // judged from the tables alone. The answer is the same either way.
  const platform::WinsockSession winsock;
  std::vector<platform::UniqueSocket> listeners(28);
  for (int i = 0; i < 28; ++i) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(9673 + i));
    ASSERT_NE(test::Listen(listeners[i], reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  }
  test::LogCapture log;
  EXPECT_EQ(SelectServerPort(), 0);
  EXPECT_EQ(StoredServerPort(), 0u);
  std::vector<std::string> judged;  // without a warning about a listing that ran out of time
  for (const std::string& line : log.Lines())
    if (line.rfind("info: ", 0) == 0) judged.push_back(line);
  EXPECT_THAT(judged, ElementsAreArray(lines));
}

TEST_F(SelectServerPortTest, RefusedWriteStillReturnsThePort) {
  // A volatile parent admits no non-volatile child key.
  ASSERT_TRUE(CreateKey(kVendorKey, REG_OPTION_VOLATILE));
  test::LogCapture log;
  EXPECT_EQ(SelectServerPort(), 9673);
  EXPECT_EQ(StoredServerPort(), std::nullopt);
  // After the refused write, ServerPort is read again for a port to fall back on.
  EXPECT_THAT(log.Lines(), ElementsAre("info: RegOpenKeyEx Error: 2",
                                       "info: RegCreateKeyEx open key failed, result: 1021",
                                       "info: write ServerPort error",
                                       "info: RegOpenKeyEx Error: 2"));
}

}  // namespace
}  // namespace starter::port
