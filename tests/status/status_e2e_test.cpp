// The status program end to end under wine, on the machine states support
// meets: nothing installed; installed and not running, with a leftover
// marker and a timed-out run in the log; running and ready; running while
// another program holds the stored port. Each report must leave the machine
// exactly as it found it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/process_start.h"
#include "platform/winsock.h"
#include "port/server_port.h"
#include "support/capabilities.h"
#include "support/port_env.h"
#include "support/starter_run.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// What a report must not change: the stored port in both views, every file
// of the install tree with its size and last write, and the log's bytes.
struct MachineState {
  std::optional<std::uint32_t> port_64, port_32;
  std::map<std::wstring, std::pair<std::uintmax_t, fs::file_time_type>> files;
  std::string log;
  bool operator==(const MachineState& other) const {
    return port_64 == other.port_64 && port_32 == other.port_32 && files == other.files && log == other.log;
  }
};

MachineState Capture() {
  MachineState state{StoredServerPort(RegistryView::k64Bit), StoredServerPort(RegistryView::k32Bit), {},
                     ReadFileBytes(StarterTest::LogFile())};
  std::error_code ignored;
  for (fs::recursive_directory_iterator it(StarterTest::ProgramFiles() + L"\\norvik", ignored), end; it != end;
       it.increment(ignored))
    state.files[it->path().wstring()] = {it->is_regular_file() ? it->file_size() : 0, it->last_write_time()};
  return state;
}

class StatusReport : public StarterTest {
 protected:
  // Runs the status program in both forms; the text and the JSON agree on
  // the verdict, and neither changes anything.
  ProcessOutcome Report() {
    const MachineState before = Capture();
    const ProcessOutcome text = RunProcess(StatusExe(), L"\"" + StatusExe() + L"\"");
    const ProcessOutcome json = RunProcess(StatusExe(), L"\"" + StatusExe() + L"\" --json");
    EXPECT_TRUE(text.finished && json.finished);
    EXPECT_EQ(text.exit_code, json.exit_code);
    EXPECT_TRUE(Capture() == before) << "the report changed the machine";
    text_ = text.standard_output;
    return json;
  }
  std::string text_;
};

TEST_F(StatusReport, NothingInstalled) {
  fs::remove_all(ProgramFiles() + L"\\norvik");
  const ProcessOutcome report = Report();
  EXPECT_EQ(report.exit_code, 4u);
  EXPECT_THAT(report.standard_output, HasSubstr(R"("java_runtime":{"path":")"));
  EXPECT_THAT(report.standard_output, HasSubstr(R"(java.exe","present":false)"));
  EXPECT_THAT(report.standard_output,
              HasSubstr(R"("verdict":{"state":"not installed","reason":"java.exe is missing","exit_code":4})"));
  EXPECT_THAT(text_, HasSubstr("verdict           not installed: java.exe is missing"));
}

// The last run in the log timed out (its lines are written as a starter
// writes them, after another starter's lines), and a marker of an earlier
// service is still there.
TEST_F(StatusReport, InstalledNotRunningWithALeftoverMarkerAndATimeout) {
  ASSERT_TRUE(WriteFileBytes(ConnectedMarker(), "{}"));
  fs::create_directories(fs::path(LogFile()).parent_path());
  const std::string log =
      "[4100] [2026-12-08 09:59:59.000] [info] [ START ] 2.3.6.2\r\n"
      "[4100] [2026-12-08 09:59:59.001] [info] param 1->--Dravel\r\n"
      "[4100] [2026-12-08 09:59:59.001] [info] param 2->Brimvale\r\n"
      "[4200] [2026-12-08 10:00:00.000] [info] [ START ] 2.3.6.2\r\n"
      "[4100] [2026-12-08 10:00:19.900] [info] wait ended: port not LISTENING\r\n"
      "[4100] [2026-12-08 10:00:19.900] [info] OUTPUT->{\"Dravel\":1,\"Selkan\":0}\r\n"
      "[4100] [2026-12-08 10:00:19.901] [info] [ END ]\n\r\n"
      "[4200] [2026-12-08 10:00:20.000] [info] check ca";  // still being written
  ASSERT_TRUE(WriteFileBytes(LogFile(), log));
  const ProcessOutcome report = Report();
  EXPECT_EQ(report.exit_code, 3u);
  EXPECT_THAT(report.standard_output, HasSubstr(R"("WsClientConnected.json":{"path":")"));
  EXPECT_THAT(report.standard_output, HasSubstr(R"(WsClientConnected.json","present":true,"error":null,"size":2,)"));
  EXPECT_THAT(report.standard_output,
              HasSubstr(R"("last_run":{"process_id":4100,"started":"2026-12-08 09:59:59.000",)"
                        R"("arguments":["--Dravel","Brimvale"],"mode":"--Dravel Brimvale",)"
                        R"("status_line":"{\"Dravel\":1,\"Selkan\":0}","wait_ended":"port not LISTENING"})"));
  EXPECT_THAT(report.standard_output,
              HasSubstr(R"("verdict":{"state":"not running","reason":"exe not Exist","exit_code":3})"));
  EXPECT_THAT(text_, HasSubstr("wait ended: port not LISTENING"));
}

TEST_F(StatusReport, RunningAndReady) {
  const StarterOutcome run = RunStarter({});
  ASSERT_EQ(run.process.standard_output, kSuccess);
  const ProcessOutcome report = Report();
  EXPECT_EQ(report.exit_code, 0u);
  EXPECT_THAT(report.standard_output, HasSubstr(R"("services":[{"process_id":)"));
  EXPECT_THAT(report.standard_output, HasSubstr(R"("connected_marker_written_by_running_service":true)"));
  EXPECT_THAT(report.standard_output, HasSubstr(R"("status_line":"{\"Dravel\":0,\"Selkan\":0}")"));
  EXPECT_THAT(report.standard_output, HasSubstr(R"("verdict":{"state":"ready","reason":"","exit_code":0})"));
  EXPECT_THAT(text_, HasSubstr("verdict           ready\r\n"));
}

// A service runs, but another program (this test) took its port first: the
// service cannot listen there and writes no marker. Where the TCP tables
// name owners, the report names the holder and the verdict blames it; where
// they do not (wine 8), the report can only say so, and the verdict is the
// check that failed next.
TEST_F(StatusReport, RunningWithAnotherProgramOnTheStoredPort) {
  const platform::WinsockSession winsock;
  platform::UniqueSocket other;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(9691);
  ASSERT_EQ(Listen(other, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 9691);
  ASSERT_TRUE(test::StoreServerPort(9691));
  ScopedEnvironmentVariable no_marker(L"STANDIN_NO_MARKER", L"1");
  ScopedEnvironmentVariable record(L"STANDIN_RECORD", record_file_);
  const std::wstring jar = VanticDir() + L"\\Vantic.jar";
  ASSERT_TRUE(platform::StartDetached(JavaExe(), L" -jar \"" + jar + L"\""));
  ASSERT_TRUE(WaitFor([this] { return RecordedCommandLines().size() == 1; }));
  const ProcessOutcome report = Report();
  EXPECT_EQ(report.exit_code, 1u);
  if (TablesNameOwners()) {
    const std::string holder = std::to_string(::GetCurrentProcessId());
    EXPECT_THAT(report.standard_output,
                HasSubstr(R"("listeners":[{"owner_id":)" + holder + R"(,"ipv6":false,"is_service":false}])"));
    EXPECT_THAT(report.standard_output,
                HasSubstr(R"("reason":"port 9691 is held by process )" + holder + R"(, which is no Vantic service")"));
    EXPECT_THAT(text_, HasSubstr("port 9691         listening (IPv4), owner " + holder + ": no Vantic service"));
  } else {
    EXPECT_THAT(report.standard_output, HasSubstr(R"("listeners":[{"owner_id":0,"ipv6":false,"is_service":null}])"));
    EXPECT_THAT(report.standard_output, HasSubstr(R"("reason":"WsClientConnected.json not Exist")"));
    EXPECT_THAT(text_, HasSubstr("port 9691         listening (IPv4), owner not named by the system"));
  }
}

}  // namespace
}  // namespace starter::test
