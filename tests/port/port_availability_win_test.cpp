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
using ::testing::IsEmpty;

// A limit no command of these tests comes near.
constexpr std::chrono::milliseconds kAmpleTime{30000};

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
    EXPECT_EQ(ReadCommandOutput(("type \"" + file + "\"").c_str(), output, kAmpleTime), CommandOutput::kRead)
        << size;
    EXPECT_EQ(output, "kept|" + text) << size;
    EXPECT_THAT(log.Lines(), IsEmpty());
  }
  ::DeleteFileA(file.c_str());
}

TEST(ReadCommandOutput, TextModeTurnsCrLfIntoLf) {
  std::string output;
  EXPECT_EQ(ReadCommandOutput("echo one& echo two", output, kAmpleTime), CommandOutput::kRead);
  EXPECT_EQ(output, "one\ntwo\n");
}

TEST(ReadCommandOutput, InterpreterThatCannotStartIsAnError) {
  std::string output;
  test::LogCapture log;
  EXPECT_EQ(ReadProgramOutput(L"C:\\no such folder\\cmd.exe", L"C:\\", L"cmd.exe /c echo one", output,
                              kAmpleTime),
            CommandOutput::kFailed);
  EXPECT_THAT(output, IsEmpty());
  EXPECT_THAT(log.Lines(), ElementsAre("info: popen error", "info: CreateProcessW GLE=3"));
}

TEST(ReadCommandOutput, TheCommandInheritsNothingButItsOutputPipe) {
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  platform::UniqueHandle event(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  const std::wstring probe = test::TestBinDir() + L"\\inherit_probe.exe";
  const std::wstring command =
      L"\"" + probe + L"\" " + std::to_wstring(reinterpret_cast<std::uintptr_t>(event.get()));
  std::string output;
  EXPECT_EQ(ReadCommandOutput(std::string(command.begin(), command.end()).c_str(), output, kAmpleTime),
            CommandOutput::kRead);
  EXPECT_EQ(::WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  // The probe does reach an event handed down to it.
  ASSERT_TRUE(test::RunProcess(probe, command).finished);
  EXPECT_EQ(::WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

// A refusal cannot be staged here (as root every bind succeeds); the other
// two answers can.
// The machine's bind, as one selection makes it.
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

class IsPortAvailableTest : public ::testing::Test {
 protected:
  test::StandinListing netstat_;
};

TEST_F(IsPortAvailableTest, PortsOutsideTheUserRangeAreRefused) {
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
    EXPECT_EQ(test::IsPortAvailable(9673), c.available) << c.name;
  }
}

TEST_F(IsPortAvailableTest, PortHeldByTheServiceStaysAvailable) {
  test::FakeVanticService vantic;
  ASSERT_NE(vantic.ProcessId(), 0u);
  ASSERT_TRUE(test::WaitFor([&] {
    const auto looks = service::MachineProcesses().LookAt({vantic.ProcessId()});
    return looks.ok() && looks->at(vantic.ProcessId()).identity == service::Identity::kService;
  }));
  const std::string pid = std::to_string(vantic.ProcessId());

  netstat_.ShowListing(Row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", pid));
  EXPECT_TRUE(test::IsPortAvailable(9673));
  netstat_.ShowListing(Row("127.0.0.1:9673", "127.0.0.1:50000", "ESTABLISHED", "66"));
  EXPECT_TRUE(test::IsPortAvailable(9673));
  // The first listener decides, even while a service runs.
  netstat_.ShowListing(Row("0.0.0.0:9673", "0.0.0.0:0", "LISTENING", "4") +
                       Row("[::]:9673", "[::]:0", "LISTENING", pid));
  EXPECT_FALSE(test::IsPortAvailable(9673));
}

// On a German system an established connection shows as HERGESTELLT: the
// machine's own tables tell whether one holds the port.
TEST_F(IsPortAvailableTest, TranslatedConnectionsAreLookedUpInTheMachineTables) {
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
    netstat_.ShowListing(Row(local, "127.0.0.1:50000", "HERGESTELLT", "66"));
    EXPECT_EQ(test::IsPortAvailable(candidate), candidate != port) << candidate;
  }
}

TEST_F(IsPortAvailableTest, SeesARealListenerInTheMachineTable) {
  netstat_.ShowMachineTable();
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
