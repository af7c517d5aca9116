// The stand-in service itself: the end-to-end tests trust it to behave as the
// real service does, so its listener, marker and lifetime are checked here.
#include <windows.h>

#include <winsock2.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/winsock.h"
#include "support/standin_processes.h"
#include "support/win_test_env.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kTestPort = 19731;  // clear of the range the starter hands out
const wchar_t* const kKeyChain[] = {L"SOFTWARE\\dadevuvidi", L"SOFTWARE\\dadevuvidi\\Corvel",
                                    L"SOFTWARE\\dadevuvidi\\Corvel\\Vantic"};
constexpr REGSAM kView = KEY_WOW64_64KEY;

// Sets (or removes) ServerPort for one test and puts back what was there,
// keys included, since the prefix's registry outlives the test.
class ServerPortValue {
 public:
  explicit ServerPortValue(std::optional<DWORD> port) {
    platform::UniqueKey key;
    for (const wchar_t* path : kKeyChain) {
      DWORD disposition = 0;
      ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | kView,
                        nullptr, key.put(), &disposition);
      if (disposition == REG_CREATED_NEW_KEY) created_.push_back(path);
    }
    saved_ = StoredServerPort();
    Store(key.get(), port);
  }
  ~ServerPortValue() {
    platform::UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyChain[2], 0, KEY_SET_VALUE | kView, key.put()) == ERROR_SUCCESS)
      Store(key.get(), saved_);
    key.reset();
    for (auto path = created_.rbegin(); path != created_.rend(); ++path)
      ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, *path, kView, 0);
  }

 private:
  static void Store(HKEY key, std::optional<DWORD> port) {
    if (!port) {
      ::RegDeleteValueW(key, L"ServerPort");
      return;
    }
    DWORD value = *port;
    ::RegSetValueExW(key, L"ServerPort", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }

  std::optional<DWORD> saved_;
  std::vector<const wchar_t*> created_;
};

bool AcceptsConnections(DWORD port) {
  const platform::WinsockSession winsock;
  if (winsock.Result() != 0) return false;
  const platform::UniqueSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  return client && ::connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
}

struct Setting {
  const char* name;
  std::optional<DWORD> port;
  std::map<std::wstring, std::wstring> environment;
  bool listens;
};
void PrintTo(const Setting& setting, std::ostream* out) { *out << setting.name; }

class StandInService : public ::testing::TestWithParam<Setting> {};

// The marker comes after the listening step, so once it is there a missing
// listener is a decision, not a race.
TEST_P(StandInService, ListensAsToldThenWritesTheMarkerBesideTheJar) {
  ServerPortValue stored(GetParam().port);
  StandInProcesses processes(GetParam().environment);
  std::wstring vantic = processes.Folder() + L"\\Vantic \u00e9";
  fs::create_directories(vantic);
  StartedProcess service =
      processes.Start(L"java.exe", L"-Djava.net.preferIPv4Stack=true -jar \"" + vantic + L"\\Vantic.jar\"");
  ASSERT_NE(service.process_id, 0u);

  EXPECT_EQ(ReadFileBytes(processes.RecordFile()), fs::path(service.command_line).u8string() + "\n");
  ASSERT_TRUE(WaitFor([&] { return PathExists(vantic + L"\\WsClientConnected.json"); }));
  if (GetParam().listens)
    EXPECT_TRUE(WaitFor([] { return AcceptsConnections(kTestPort); }));
  else
    EXPECT_FALSE(AcceptsConnections(kTestPort));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, StandInService,
    ::testing::Values(Setting{"stored_port", kTestPort, {}, true},
                      Setting{"after_a_delay", kTestPort, {{L"STANDIN_LISTEN_DELAY_MS", L"300"}}, true},
                      Setting{"told_not_to", kTestPort, {{L"STANDIN_NO_LISTEN", L"1"}}, false},
                      Setting{"port_zero", DWORD{0}, {}, false},
                      Setting{"no_port_value", std::nullopt, {}, false}),
    [](const ::testing::TestParamInfo<Setting>& setting) { return std::string(setting.param.name); });

TEST(StandInServiceLifetime, EndsOnItsOwnWithoutAMarkerWhenToldSo) {
  ServerPortValue stored(kTestPort);
  StandInProcesses processes(
      {{L"STANDIN_NO_MARKER", L"1"}, {L"STANDIN_LIFETIME_MS", L"500"}, {L"STANDIN_MARKER_DELAY_MS", L"100"}});
  StartedProcess service = processes.Start(L"java.exe", L"-jar \"" + processes.Folder() + L"\\Vantic.jar\"");
  ASSERT_NE(service.process_id, 0u);

  ASSERT_EQ(::WaitForSingleObject(service.handle, 30000), WAIT_OBJECT_0);
  DWORD exit_code = 1;
  ::GetExitCodeProcess(service.handle, &exit_code);
  EXPECT_EQ(exit_code, 0u);
  EXPECT_FALSE(PathExists(processes.Folder() + L"\\WsClientConnected.json"));
}

}  // namespace
}  // namespace starter::test
