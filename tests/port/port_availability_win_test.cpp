#include "port/port_availability.h"
#include "port/command_output.h"

#include "platform/win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "platform/handles.h"
#include "port/netstat_rows.h"
#include "port/port_win_env.h"
#include "service/process_detection.h"
#include "support/log_capture.h"
#include "support/win_test_env.h"

namespace starter::port {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string Row(const std::string& local, const std::string& foreign, const std::string& state,
                const std::string& owner, const std::string& protocol = "TCP") {
  return test::NetstatRow(local, foreign, state, owner, protocol, "\r\n");
}

// Lines of letters ending in LF only, which a text-mode pipe passes unchanged.
std::string Lines(std::size_t size) {
  std::string text;
  for (std::size_t i = 0; text.size() < size; ++i) text += i % 40 == 39 ? '\n' : char('a' + i % 26);
  return text;
}

TEST(ReadCommandOutput, CollectsTheWholeOutputOfTheCommand) {
  char folder[MAX_PATH] = {};
  ASSERT_NE(::GetTempPathA(MAX_PATH, folder), 0u);
  const std::string file = std::string(folder) + "port_test_output.txt";
  for (std::size_t size : {0, 500, 1234}) {
    const std::string text = Lines(size);
    ASSERT_TRUE(test::WriteFileBytes(std::wstring(file.begin(), file.end()), text));
    std::string output = "kept|";
    test::LogCapture log;
    EXPECT_TRUE(ReadCommandOutput(("type \"" + file + "\"").c_str(), output)) << size;
    EXPECT_EQ(output, "kept|" + text) << size;
    EXPECT_THAT(log.Lines(), IsEmpty());
  }
  ::DeleteFileA(file.c_str());
}

TEST(ReadCommandOutput, TextModeTurnsCrLfIntoLf) {
  std::string output;
  EXPECT_TRUE(ReadCommandOutput("echo one& echo two", output));
  EXPECT_EQ(output, "one\ntwo\n");
}

TEST(ReadCommandOutput, InterpreterThatCannotStartIsAnError) {
  std::string output;
  test::LogCapture log;
  EXPECT_FALSE(ReadProgramOutput(L"C:\\no such folder\\cmd.exe", L"C:\\", L"cmd.exe /c echo one",
                                 output));
  EXPECT_THAT(output, IsEmpty());
  EXPECT_THAT(log.Lines(), ElementsAre("info: popen error"));
}

TEST(ReadCommandOutput, RunsTheSystemsInterpreterInTheSystemDirectory) {
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(length, 0u);
  // COMSPEC names the interpreter a caller prefers; it is not consulted.
  test::ScopedEnvironmentVariable comspec(L"COMSPEC", L"C:\\no such folder\\cmd.exe");
  std::string output;
  test::LogCapture log;
  EXPECT_TRUE(ReadCommandOutput("cd", output));
  EXPECT_EQ(output, std::string(system, system + length) + "\n");
  EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST(ReadCommandOutput, TheCommandInheritsNothingButItsOutputPipe) {
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  platform::UniqueHandle event(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  char value[32];
  std::snprintf(value, sizeof(value), "%lx",
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(event.get())));
  const std::wstring probe = test::TestBinDir() + L"\\inherit_probe.exe";
  const std::string command = "\"" + std::string(probe.begin(), probe.end()) + "\" " + value;

  std::string output;
  EXPECT_TRUE(ReadCommandOutput(command.c_str(), output));
  EXPECT_EQ(::WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  // The probe does reach an event handed down to it.
  const std::wstring wide_command(command.begin(), command.end());
  ASSERT_TRUE(test::RunProcess(probe, wide_command).finished);
  EXPECT_EQ(::WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

class IsPortAvailableTest : public ::testing::Test {
 protected:
  test::StandinListing netstat_;
};

TEST_F(IsPortAvailableTest, PortsOutsideTheUserRangeAreRefused) {
  test::LogCapture log;
  EXPECT_FALSE(IsPortAvailable(1023));
  EXPECT_FALSE(IsPortAvailable(65536));
  EXPECT_FALSE(IsPortAvailable(-1));
  EXPECT_TRUE(IsPortAvailable(1024));
  EXPECT_TRUE(IsPortAvailable(65535));
  EXPECT_THAT(log.Lines(),
              ElementsAre("info: Invalid start port: 1023", "info: Invalid start port: 65536",
                          "info: Invalid start port: -1"));
}

TEST_F(IsPortAvailableTest, JudgesTheListingWithoutAService) {
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
    netstat_.ShowListing(Row("0.0.0.0:80", "0.0.0.0:0", "LISTENING", "8") + c.rows);
    EXPECT_EQ(IsPortAvailable(9673), c.available) << c.name;
  }
}

TEST_F(IsPortAvailableTest, PortHeldByTheServiceStaysAvailable) {
  test::FakeVanticService vantic;
  ASSERT_NE(vantic.ProcessId(), 0u);
  ASSERT_TRUE(
      test::Eventually([&] { return service::IsServiceProcessRunning(vantic.ProcessId()); }));
  const std::string pid = std::to_string(vantic.ProcessId());

  netstat_.ShowListing(Row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", pid));
  EXPECT_TRUE(IsPortAvailable(9673));
  netstat_.ShowListing(Row("127.0.0.1:9673", "127.0.0.1:50000", "ESTABLISHED", "66"));
  EXPECT_TRUE(IsPortAvailable(9673));
  // The first listener decides, even while a service runs.
  netstat_.ShowListing(Row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "4") +
                       Row("[::]:9673", "[::]:0", "LISTENING", pid));
  EXPECT_FALSE(IsPortAvailable(9673));
}

// A German system's listing, in code page 850: states are never compared,
// listeners show by their wildcard foreign address, and whether a connection
// is established is read from the machine's own tables.
TEST_F(IsPortAvailableTest, JudgesATranslatedListingByAddressesAndTheMachineTables) {
  test::WinsockSession winsock;
  test::Socket listener;
  const std::uint16_t port = test::ListenV4(listener, INADDR_LOOPBACK);
  ASSERT_NE(port, 0);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  target.sin_port = htons(port);
  test::Socket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  ASSERT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&target), sizeof(target)), 0);
  test::Socket accepted(::accept(listener.get(), nullptr, nullptr));
  ASSERT_NE(accepted.get(), INVALID_SOCKET);
  listener.Reset();
  // A port this test holds bound on every IPv4 address: no connection the
  // machine opens is given it as its local port.
  test::Socket held(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in any{};
  any.sin_family = AF_INET;
  ASSERT_EQ(::bind(held.get(), reinterpret_cast<sockaddr*>(&any), sizeof(any)), 0);
  const std::string connected = std::to_string(port);
  const std::string unconnected = std::to_string(test::LocalPort(held));

  netstat_.ShowListing(Row("0.0.0.0:" + connected, "0.0.0.0:0", "ABH\x99REN", "4"));
  EXPECT_FALSE(IsPortAvailable(port));
  netstat_.ShowListing(Row("127.0.0.1:" + connected, "127.0.0.1:50000", "HERGESTELLT", "66"));
  EXPECT_FALSE(IsPortAvailable(port));
  // The same rows for a port with no established connection of the machine.
  netstat_.ShowListing(Row("127.0.0.1:" + unconnected, "127.0.0.1:50000", "HERGESTELLT", "66"));
  EXPECT_TRUE(IsPortAvailable(std::stoi(unconnected)));
}

// A socket bound without listening fails the bind probe with "address in
// use", not with a refusal: the listing's answer stands.
TEST_F(IsPortAvailableTest, ABindFailureOtherThanARefusalKeepsTheListingsAnswer) {
  test::WinsockSession winsock;
  test::Socket bound(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(bound.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  const std::uint16_t port = test::LocalPort(bound);
  netstat_.ShowListing("");
  EXPECT_TRUE(IsPortAvailable(port));
}

TEST_F(IsPortAvailableTest, SeesARealListenerInTheMachineTable) {
  netstat_.ShowMachineTable();
  test::WinsockSession winsock;
  test::Socket listener;
  const std::uint16_t port = test::ListenV4(listener, INADDR_LOOPBACK);
  ASSERT_NE(port, 0);
  EXPECT_FALSE(IsPortAvailable(port));
  listener.Reset();
  EXPECT_TRUE(test::Eventually([port] { return IsPortAvailable(port); }));
}

}  // namespace
}  // namespace starter::port
