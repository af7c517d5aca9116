// The status program end to end under wine, on the machine states support
// meets: nothing installed; installed and not running, with a leftover
// marker and a timed-out run in the log; running and ready; running while
// another program holds the stored port; the recent runs of several callers.
// Each report must leave the machine exactly as it found it, and leaves its
// JSON in C:\status-json for the schema test (validate_status_json.py).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "app/hostile_run.h"
#include "contract/product_version.h"
#include "fault/fault_support_win.h"
#include "platform/handles.h"
#include "platform/process_start.h"
#include "platform/winsock.h"
#include "port/server_port.h"
#include "status/json_text.h"
#include "status/run_history.h"
#include "support/capabilities.h"
#include "support/port_env.h"
#include "support/starter_run.h"
#include "support/text_count.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

// What a report must not change: the stored port in both views, every file
// of the install tree with its size and last write, and the log's bytes.
struct MachineState {
  std::optional<std::uint32_t> port_64, port_32;
  std::map<std::wstring, std::pair<std::uintmax_t, fs::file_time_type>> files;
  std::string log;
  bool operator==(const MachineState& other) const {
    return port_64 == other.port_64 && port_32 == other.port_32 && files == other.files && log == other.log;
  }
  // What differs from `other`, for a failure message.
  std::string ChangesFrom(const MachineState& other) const {
    std::string changes;
    if (port_64 != other.port_64 || port_32 != other.port_32) changes += "the stored port; ";
    if (log != other.log)
      changes += "the log (" + std::to_string(other.log.size()) + " bytes, then " + std::to_string(log.size()) +
                 ": \"" + log.substr(0, 400) + "\"); ";
    for (const auto& [path, facts] : files) {
      const auto was = other.files.find(path);
      if (was == other.files.end() || was->second != facts) changes += StarterTest::Utf8(path) + "; ";
    }
    for (const auto& [path, facts] : other.files)
      if (files.count(path) == 0) changes += "gone: " + StarterTest::Utf8(path) + "; ";
    return changes;
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

// Keeps `json` as C:\status-json\<test>[-<form>].json: in this prefix, which
// no other stream of the suites shares.
void KeepJson(const std::string& json, const std::string& form = "") {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const fs::path folder = L"C:\\status-json";
  fs::create_directories(folder);
  const std::string name = std::string(test->name()) + (form.empty() ? "" : "-" + form) + ".json";
  EXPECT_TRUE(WriteFileBytes((folder / name).wstring(), json));
}

ProcessOutcome RunStatus(const std::wstring& options) {
  return RunProcess(StatusExe(), L"\"" + StatusExe() + L"\"" + options);
}

class StatusReport : public StarterTest {
 protected:
  // Runs the status program in both forms; the text and the JSON agree on
  // the verdict, and neither changes anything.
  ProcessOutcome Report(const std::string& form = "") {
    const MachineState before = Capture();
    const ProcessOutcome text = RunProcess(StatusExe(), L"\"" + StatusExe() + L"\"");
    const ProcessOutcome json = RunProcess(StatusExe(), L"\"" + StatusExe() + L"\" --json");
    EXPECT_TRUE(text.finished && json.finished);
    EXPECT_EQ(text.exit_code, json.exit_code);
    const MachineState after = Capture();
    EXPECT_TRUE(after == before) << "the report changed the machine: " << after.ChangesFrom(before);
    text_ = text.standard_output;
    KeepJson(json.standard_output, form);
    return json;
  }
  // Whether the service's connected marker holds its bytes: the starter
  // ends once the file is there, which may be before the service wrote it,
  // and a report must find the machine settled.
  static bool MarkerWritten() { return !ReadFileBytes(ConnectedMarker()).empty(); }
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

// The log file made of `hole` bytes that read as zeros (a sparse file costs
// no disk), then `bytes`.
bool WriteAfterAHole(const std::wstring& path, std::uint64_t hole, const std::string& bytes) {
  const platform::UniqueHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER offset{};
  offset.QuadPart = static_cast<LONGLONG>(hole);
  DWORD written = 0;
  return file && ::SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get()) &&
         ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
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
                        R"("status_line":"{\"Dravel\":1,\"Selkan\":0}","wait_ended":"port not LISTENING",)"
                        R"("time_limit_stage":null,"outcome":"timed out","waited_ms":20900,"not_delivered":null})"));
  EXPECT_THAT(report.standard_output,
              HasSubstr(R"("verdict":{"state":"not running","reason":"exe not Exist","exit_code":3})"));
  EXPECT_THAT(text_, HasSubstr("wait ended: port not LISTENING"));
}

// Anyone who can run the starter can write its log: the last run there
// names an argument index of four billion, prints a line end and bytes no
// UTF-8 reader accepts. The service is ready, and the report says so.
TEST_F(StatusReport, ReadyWithAForgedRunLastInTheLog) {
  const StarterOutcome run = RunStarter({});
  ASSERT_EQ(run.process.standard_output, kSuccess);
  ASSERT_TRUE(WaitFor(MarkerWritten));
  const std::string forged =
      "[4300] [2026-12-08 23:59:59.000] [info] [ START ] 2.3.6.2\r\n"
      "[4300] [2026-12-08 23:59:59.001] [info] param 4294967295->y\r\n"
      "[4300] [2026-12-08 23:59:59.001] [info] param 1->--BrandleAgent\r\n"
      "[4300] [2026-12-08 23:59:59.001] [info] param 2->Selkan\r\n"
      "[4300] [2026-12-08 23:59:59.002] [info] wait ended: x\nverdict           ready\r\n"
      "[4300] [2026-12-08 23:59:59.002] [info] OUTPUT->{}\xED\xA0\x80\xF4\x90\x80\x80\r\n"
      "[4300] [2026-12-08 23:59:59.003] [info] [ END ]\n\r\n";
  ASSERT_TRUE(WriteFileBytes(LogFile(), ReadFileBytes(LogFile()) + forged));
  const ProcessOutcome report = Report();
  EXPECT_EQ(report.exit_code, 0u) << report.standard_output;
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_THAT(report.standard_output,
              HasSubstr(R"("last_run":{"process_id":4300,"started":"2026-12-08 23:59:59.000",)"
                        R"("arguments":["--BrandleAgent","Selkan"],"mode":"--BrandleAgent Selkan",)"
                        R"("status_line":"{})" + fffd + fffd + fffd + fffd + fffd + fffd + fffd +
                        R"(","wait_ended":"x\nverdict           ready","time_limit_stage":null,)"
                        R"("outcome":"printed another line","waited_ms":2,"not_delivered":null})"));
  EXPECT_THAT(report.standard_output, HasSubstr(R"("verdict":{"state":"ready","reason":"","exit_code":0})"));
  EXPECT_EQ(CountOf(text_, "\nverdict "), 1u) << text_;
  EXPECT_THAT(text_, HasSubstr(R"(wait ended: x\nverdict           ready)"));
}

// A log that could not be rotated grows without bound: a gigabyte (read
// whole, it exhausts the report's 32-bit address space), then a line longer
// than the part of the file the report reads,
// inside which that part begins with what looks like a run's start line,
// then the starter's run and an end line of that forged run. The report
// answers in its usual time, names the starter's run and changes nothing.
TEST_F(StatusReport, ReadyWithALogOfAGigabyte) {
  const StarterOutcome run = RunStarter({});
  ASSERT_EQ(run.process.standard_output, kSuccess);
  const std::string starter_lines = ReadFileBytes(LogFile());
  constexpr std::uint64_t kHole = 1ull << 30;
  const std::string forged_end = "[4600] [2026-12-08 23:59:59.500] [info] [ END ]\n\r\n";
  std::string long_line = "[4500] [2026-12-08 12:00:00.000] [info] " +
                          std::string(status::kLogTailBytes + (2u << 20), 'x') + "\r\n";
  const std::uint64_t size = kHole + long_line.size() + starter_lines.size() + forged_end.size();
  const std::string forged_start = "[4600] [2026-12-08 23:59:59.000] [info] [ START ] 2.3.6.2 ";
  long_line.replace(static_cast<std::size_t>(size - status::kLogTailBytes - kHole), forged_start.size(),
                    forged_start);
  ASSERT_TRUE(WriteAfterAHole(LogFile(), kHole, long_line + starter_lines + forged_end));
  const auto last_write = fs::last_write_time(LogFile());

  const ProcessOutcome json = RunProcess(StatusExe(), L"\"" + StatusExe() + L"\" --json");
  EXPECT_EQ(json.exit_code, 0u) << json.standard_output;
  EXPECT_LT(json.seconds, 10.0);
  EXPECT_THAT(json.standard_output,
              HasSubstr(R"("last_run":{"process_id":)" + std::to_string(run.process.process_id) + ","));
  EXPECT_THAT(json.standard_output, HasSubstr(R"("verdict":{"state":"ready","reason":"","exit_code":0})"));
  const ProcessOutcome text = RunProcess(StatusExe(), L"\"" + StatusExe() + L"\"");
  EXPECT_EQ(text.exit_code, 0u);
  EXPECT_THAT(text.standard_output, HasSubstr("process " + std::to_string(run.process.process_id) + ", no arguments"));
  EXPECT_EQ(fs::file_size(LogFile()), size);
  EXPECT_TRUE(fs::last_write_time(LogFile()) == last_write);
  fs::remove(LogFile());
}

TEST_F(StatusReport, RunningAndReady) {
  const StarterOutcome run = RunStarter({});
  ASSERT_EQ(run.process.standard_output, kSuccess);
  ASSERT_TRUE(WaitFor(MarkerWritten));
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
// check that failed next. The service is starting until it is older than a
// starter's whole wait, and not ready from then on.
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
  ASSERT_TRUE(platform::StartDetached(JavaExe(), L" -jar \"" + jar + L"\"").ok());
  ASSERT_TRUE(WaitFor([this] { return RecordedCommandLines().size() == 1; }));
  const ProcessOutcome report = Report();
  EXPECT_EQ(report.exit_code, 1u);
  if (TablesNameOwners()) {
    const std::string holder = std::to_string(::GetCurrentProcessId());
    // The holder is this test program, named by its image.
    EXPECT_THAT(report.standard_output,
                HasSubstr(R"("listeners":[{"owner_id":)" + holder + R"(,"ipv6":false,"is_service":false,)"
                          R"("owner_image":")"));
    EXPECT_THAT(report.standard_output, HasSubstr(R"(\\status_e2e_tests.exe"}])"));
    EXPECT_THAT(report.standard_output, HasSubstr(R"("reason":"port 9691 held by process )" + holder +
                                                  R"( (status_e2e_tests.exe), no Vantic service")"));
    EXPECT_THAT(text_, HasSubstr("port 9691         listening (IPv4), owner " + holder +
                                 " (status_e2e_tests.exe): no Vantic service"));
  } else {
    EXPECT_THAT(report.standard_output,
                HasSubstr(R"("listeners":[{"owner_id":0,"ipv6":false,"is_service":null,"owner_image":null}])"));
    EXPECT_THAT(report.standard_output, HasSubstr(R"("reason":"WsClientConnected.json not Exist")"));
    EXPECT_THAT(text_, HasSubstr("port 9691         listening (IPv4), owner not named by the system"));
  }
  EXPECT_THAT(report.standard_output, HasSubstr(R"("verdict":{"state":"starting",)"));
  const auto not_ready = [] {
    return RunStatus(L" --json").standard_output.find(R"("state":"not ready")") != std::string::npos;
  };
  ASSERT_TRUE(WaitFor(not_ready, 60000));
  EXPECT_EQ(Report("later").exit_code, 1u);
}

// A service this account cannot examine (its command line cannot be read, as
// another account's java.exe cannot be by a standard user) listens at once.
// The port-mode run counts it at once and never calls it no service; the
// report says it cannot be examined, never that the service is not running.
// The emulators' token holds the debug privilege, so the report enables it
// and says that even so it cannot examine the process.
TEST_F(StatusReport, AServiceThisAccountCannotExamineStillCounts) {
  const StarterOutcome run =
      RunStarter({"--Dravel", "Brimvale"}, {{L"STANDIN_REWRITE_COMMAND_LINE", L"unreadable"}});
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.standard_output, kSuccess);
  EXPECT_LT(run.process.seconds, 10.0);
  EXPECT_THAT(run.log, Not(Contains(HasSubstr("no Vantic service"))));
  ASSERT_TRUE(WaitFor(MarkerWritten));
  const ProcessOutcome report = Report();
  EXPECT_EQ(report.exit_code, 4u);
  const std::string examine =
      " (java.exe) cannot be examined, even with the debug privilege this run enabled: it may be the Vantic service";
  EXPECT_THAT(report.standard_output, HasSubstr(R"("verdict":{"state":"unknown","reason":"process )"));
  EXPECT_THAT(report.standard_output, HasSubstr(examine));
  EXPECT_THAT(text_, Not(HasSubstr("not running")));
  if (TablesNameOwners()) {
    EXPECT_THAT(report.standard_output, HasSubstr(R"(,"ipv6":false,"is_service":null,"owner_image":")"));
    EXPECT_THAT(report.standard_output, Not(HasSubstr(R"("owner_id":0,)")));
    EXPECT_THAT(text_, HasSubstr("(java.exe): cannot be examined, even with the debug privilege this run enabled"));
  }
}

// Three callers in turn (a mode that waits for the port, a mode that prints
// nothing, one that waits for the service's marker too), then a run the time
// limit ended as the starter logs one: the history lists each with its
// caller and its wait, newest last, in both forms, and leaves the log as it
// was (the services the runs started may still be writing their markers).
TEST_F(StatusReport, HistoryOfThreeCallersAndARunTheLimitEnded) {
  ASSERT_EQ(RunStarter({"--Dravel", "Brimvale"}).process.standard_output, kSuccess);
  ASSERT_EQ(RunStarter({"--BrandleAgent", "UninstallReport"}).process.standard_output, "");
  ASSERT_EQ(RunStarter({}).process.standard_output, kSuccess);
  ASSERT_TRUE(WriteFileBytes(LogFile(), ReadFileBytes(LogFile()) +
                                            "[4242] [2099-12-08 10:00:00.000] [info] [ START ] 2.3.6.2\r\n"
                                            "[4242] [2099-12-08 10:00:36.050] [warning] run ended at its time limit in port selection\r\n"
                                            "[4242] [2099-12-08 10:00:36.051] [info] OUTPUT->{\"Dravel\":1,\"Selkan\":0}\r\n"
                                            "[4242] [2099-12-08 10:00:36.052] [info] [ END ]\n\r\n"));
  const std::string log = ReadFileBytes(LogFile());
  const auto last_write = fs::last_write_time(LogFile());
  const ProcessOutcome json = RunStatus(L" --history --json");
  const ProcessOutcome text = RunStatus(L" --history");
  const ProcessOutcome two = RunStatus(L" --json --history 2");
  EXPECT_EQ(ReadFileBytes(LogFile()), log);
  EXPECT_TRUE(fs::last_write_time(LogFile()) == last_write);
  KeepJson(json.standard_output, "history");
  KeepJson(two.standard_output, "history-two");
  EXPECT_EQ(json.exit_code, 0u);
  EXPECT_EQ(text.exit_code, 0u);
  const std::string& out = json.standard_output;
  const std::size_t no_arguments = out.find(R"("mode":"no arguments","status_line":"{\"Dravel\":0,\"Selkan\":0}")");
  const std::size_t uninstall = out.find(R"("mode":"--BrandleAgent UninstallReport","status_line":null,)");
  const std::size_t port = out.find(R"("mode":"--Dravel Brimvale","status_line":"{\"Dravel\":0,\"Selkan\":0}")");
  const std::size_t limit = out.find(R"("time_limit_stage":"port selection","outcome":"time limit","waited_ms":36051,"not_delivered":null})");
  ASSERT_NE(no_arguments, std::string::npos) << out;
  ASSERT_NE(uninstall, std::string::npos) << out;
  ASSERT_NE(port, std::string::npos) << out;
  ASSERT_NE(limit, std::string::npos) << out;
  EXPECT_TRUE(port < uninstall && uninstall < no_arguments && no_arguments < limit) << out;
  EXPECT_EQ(CountOf(out, R"("waited_ms":)"), 4u) << out;
  EXPECT_EQ(CountOf(out, R"("waited_ms":null)"), 0u) << out;
  EXPECT_THAT(out, HasSubstr(R"("summary":{"runs":4,"outcomes":{"ready":2,"timed out":0,"time limit":1,"printed nothing":1,)"));
  EXPECT_THAT(text.standard_output, HasSubstr("no arguments (arguments: none)  printed {\"Dravel\":0,\"Selkan\":0}  waited "));
  EXPECT_THAT(text.standard_output, HasSubstr("--BrandleAgent UninstallReport (arguments: --BrandleAgent UninstallReport)  printed nothing  waited "));
  EXPECT_THAT(text.standard_output, HasSubstr("--Dravel Brimvale (arguments: --Dravel Brimvale)  printed "));
  EXPECT_THAT(text.standard_output, HasSubstr("2099-12-08 10:00:00.000  process 4242  no arguments (arguments: none)  printed "
                                              "{\"Dravel\":1,\"Selkan\":0}  ended at its time limit in port selection  waited 36051 ms\r\n"));
  EXPECT_THAT(text.standard_output, HasSubstr("summary           4 runs: 2 ready, 1 time limit, 1 printed nothing; median wait "));
  EXPECT_EQ(CountOf(two.standard_output, R"("process_id":)"), 2u) << two.standard_output;
  EXPECT_THAT(two.standard_output, HasSubstr(R"("process_id":4242,)"));
}

// Each read of a ready machine that the system refuses the status program
// (its test build fails the call): the report cannot tell, so the verdict
// is unknown and names the read and its failure, never a state that claims
// to know; a process list refused is never "not running".
TEST_F(StatusReport, AReadTheSystemRefusesIsUnknownNeverAnAnswer) {
  ASSERT_EQ(RunStarter({}).process.standard_output, kSuccess);
  ASSERT_TRUE(WaitFor(MarkerWritten));
  ASSERT_EQ(RunStatus(L"").exit_code, 0u);
  struct Refusal {
    fault::Injection injection;
    std::string reason;
  };
  const Refusal refusals[] = {
      {{"CreateToolhelp32Snapshot", 1, "ERROR_ACCESS_DENIED", true},
       "the running processes cannot be read: CreateToolhelp32Snapshot GLE=5"},
      {{"RegOpenKeyExW", 1, "ERROR_ACCESS_DENIED", true}, "ServerPort cannot be read: RegOpenKeyExW GLE=5"},
      {{"GetExtendedTcpTable", 1, "ERROR_NOT_ENOUGH_MEMORY", true},
       "the TCP tables cannot be read: GetExtendedTcpTable GLE=8"},
      // The looks go java.exe, Vantic.jar, then the markers in their order.
      {{"GetFileAttributesExW", 3 + contract::kConnectedMarkerIndex, "ERROR_ACCESS_DENIED", false},
       "WsClientConnected.json cannot be read: GetFileAttributesExW GLE=5"},
  };
  const std::wstring program = FaultBuildOf(StatusExe());
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.injection.Name());
    ProcessOptions options;
    options.environment = FaultEnvironment(refusal.injection);
    const ProcessOutcome text = RunProcess(program, L"\"" + program + L"\"", options);
    const ProcessOutcome json = RunProcess(program, L"\"" + program + L"\" --json", options);
    EXPECT_EQ(text.exit_code, 4u) << text.standard_output;
    EXPECT_THAT(text.standard_output, HasSubstr("verdict           unknown: " + refusal.reason + "\r\n"));
    EXPECT_THAT(json.standard_output, HasSubstr(R"("verdict":{"state":"unknown","reason":)" +
                                                status::JsonString(refusal.reason) + R"(,"exit_code":4})"));
    KeepJson(json.standard_output, refusal.injection.function);
  }
}

// A caller that went away before its line came (it closed its pipe): the
// run still ends as every run does, its log says what it printed and, after
// that, that the line was not delivered; the report's last run and the
// history show the line as not delivered, in both forms.
TEST_F(StatusReport, ALineItsCallerNeverGotIsShownAsNotDelivered) {
  output_closed_ = true;
  const StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
  output_closed_ = false;
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.exit_code, 0u);
  // A write to a pipe whose reader has gone: ERROR_NO_DATA under both
  // emulators.
  const std::string failed = "WriteFile GLE=232";
  ASSERT_GE(run.log.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(run.log.end() - 3, run.log.end()),
              ::testing::ElementsAre(std::string("info OUTPUT->") + kSuccess,
                                     "warning status line not delivered: " + failed, "info [ END ]\n"));
  EXPECT_EQ(std::count(run.log.begin(), run.log.end(), "info [ END ]\n"), 1);
  ASSERT_TRUE(WaitFor(MarkerWritten));
  const ProcessOutcome report = Report();
  EXPECT_THAT(text_, HasSubstr("                  printed " + std::string(kSuccess) + "\r\n" +
                               "                  not delivered: " + failed + "\r\n"));
  EXPECT_THAT(report.standard_output, HasSubstr(R"(,"not_delivered":)" + status::JsonString(failed) + "},"));
  const ProcessOutcome history = RunStatus(L" --history");
  const ProcessOutcome json = RunStatus(L" --history --json");
  KeepJson(json.standard_output, "history");
  EXPECT_EQ(history.exit_code, 0u);
  EXPECT_THAT(history.standard_output, HasSubstr("printed " + std::string(kSuccess) + ", not delivered: " + failed +
                                                 "  waited "));
  EXPECT_THAT(json.standard_output, HasSubstr(R"("not_delivered":)" + status::JsonString(failed) + "}]"));
}

// A log forged to exhaust the report: runs that never end, each naming the
// highest argument index a command line can hold, and a line of a megabyte.
// The service is ready and the report says so in its usual time, with the
// history as bounded as the report.
TEST_F(StatusReport, ReadyWithALogForgedToExhaustTheReader) {
  ASSERT_EQ(RunStarter({}).process.standard_output, kSuccess);
  std::string forged;
  for (int id = 1; id <= 5000; ++id) {
    const std::string prefix = "[" + std::to_string(100000 + id) + "] [2026-12-08 10:00:00.000] [info] ";
    forged += prefix + "[ START ] 2.3.6.2\r\n" + prefix + "param 32767->x\r\n";
  }
  forged += "[99] [2026-12-08 10:00:00.000] [info] [ START ] 2.3.6.2\r\n[99] [2026-12-08 10:00:01.000] [info] OUTPUT->" +
            std::string(1 << 20, 'o') + "\r\n[99] [2026-12-08 10:00:02.000] [info] [ END ]\n\r\n";
  ASSERT_TRUE(WriteFileBytes(LogFile(), ReadFileBytes(LogFile()) + forged));
  const ProcessOutcome report = Report();
  EXPECT_EQ(report.exit_code, 0u) << report.standard_output.substr(0, 2000);
  EXPECT_THAT(report.standard_output, HasSubstr(R"("verdict":{"state":"ready","reason":"","exit_code":0})"));
  EXPECT_THAT(report.standard_output, HasSubstr(R"("last_run":{"process_id":99,)"));
  EXPECT_LT(report.standard_output.size(), 16000u);
  const ProcessOutcome history = RunStatus(L" --history 200 --json");
  KeepJson(history.standard_output, "history");
  EXPECT_EQ(history.exit_code, 0u);
  EXPECT_LT(history.seconds, 10.0);
  EXPECT_EQ(CountOf(history.standard_output, R"("process_id":)"), 2u);  // the starter's run and the forged one
}

// Help and version on standard output with exit code 0; a wrong option
// prints nothing there and exits 4, whatever the machine's state.
TEST_F(StatusReport, HelpVersionAndWrongOptions) {
  const ProcessOutcome help = RunStatus(L" --help");
  EXPECT_EQ(help.exit_code, 0u);
  EXPECT_THAT(help.standard_output, HasSubstr("usage: zephra_vantic_status [--json] | --history [N] [--json]"));
  EXPECT_THAT(help.standard_output, HasSubstr("--history [N]"));
  EXPECT_THAT(help.standard_output, HasSubstr("0 ready, 1 starting or not ready, 3 not running, 4 not installed or unknown"));
  const ProcessOutcome version = RunStatus(L" --version");
  EXPECT_EQ(version.exit_code, 0u);
  EXPECT_THAT(version.standard_output, ::testing::StartsWith(std::string("zephra_vantic_status ") + contract::kProductVersion + "\r\n"));
  for (const wchar_t* wrong : {L" --jsn", L" --json --json", L" --history 0", L" --history 201", L" --history x",
                               L" 5", L" --help --json", L" --json 5"}) {
    const ProcessOutcome outcome = RunStatus(wrong);
    EXPECT_EQ(outcome.exit_code, 4u) << wrong;
    EXPECT_EQ(outcome.standard_output, "") << wrong;
  }
}

// The log folder is writable by every account: another may put a link, or
// a file, in the place of a folder of the log, or a second name of its own
// file in the place of the log. The report reads nothing through them, says
// why in both forms, and judges the state from the machine.
class RefusedLog : public StatusReport {
 protected:
  void TearDown() override {
    link_.reset();  // first: removing the tree through the link would empty its target
    StatusReport::TearDown();
    fs::remove_all(kElsewhere);
    std::error_code ignored;
    fs::remove_all(kCorvel + std::wstring(L".aside"), ignored);
  }
  // The report of a ready service that names `refusal` and no run.
  void ExpectRefused(const std::string& refusal) {
    const ProcessOutcome json = Report();
    EXPECT_EQ(json.exit_code, 0u) << json.standard_output;
    EXPECT_THAT(json.standard_output, HasSubstr(R"("refused":)" + status::JsonString(refusal) + R"(},"last_run":null,)"));
    EXPECT_THAT(json.standard_output, HasSubstr(R"("verdict":{"state":"ready","reason":"","exit_code":0})"));
    EXPECT_THAT(text_, HasSubstr("last run          the log is not read: " + refusal + "\r\n"));
  }

  static constexpr wchar_t kElsewhere[] = L"C:\\elsewhere";
  static constexpr wchar_t kCorvel[] = L"C:\\Users\\Public\\Documents\\corvel";
  std::optional<UnixLink> link_;
};

TEST_F(RefusedLog, ALinkOrAFileInThePlaceOfTheLogOrItsFolders) {
  const StarterOutcome run = RunStarter({});
  ASSERT_EQ(run.process.standard_output, kSuccess);
  ASSERT_TRUE(WaitFor(MarkerWritten));
  const std::string forged =
      "[4300] [2026-12-08 23:59:59.000] [info] [ START ] 2.3.6.2\r\n"
      "[4300] [2026-12-08 23:59:59.003] [info] [ END ]\n\r\n";
  const std::wstring corvel = kCorvel;
  const std::wstring logs = corvel + L"\\VanticLogs";
  for (const std::wstring& link : {corvel, logs}) {
    SCOPED_TRACE(Utf8(link));
    const std::wstring through = link == corvel ? L"\\VanticLogs" : L"";
    fs::create_directories(kElsewhere + through);
    ASSERT_TRUE(WriteFileBytes(kElsewhere + through + L"\\zephra_vantic_starter.log", forged));
    fs::rename(link, link + L".aside");
    ASSERT_TRUE(link_.emplace(link, kElsewhere).Made());
    // The emulator may answer a path through a link it has just seen with
    // ERROR_PATH_NOT_FOUND for a while: the report starts once the forged
    // log reads through the link, so that a change would show.
    ASSERT_TRUE(WaitFor([&forged] { return ReadFileBytes(LogFile()) == forged; }));
    ExpectRefused("Refused " + Utf8(link) + ": it is a link (reparse point)");
    link_.reset();
    fs::rename(link + L".aside", link);
  }

  fs::rename(logs, logs + L".aside");
  ASSERT_TRUE(WriteFileBytes(logs, forged));
  ExpectRefused("Refused " + Utf8(logs) + ": it is not a folder, so no starter can log there");
  fs::remove(logs);
  fs::rename(logs + L".aside", logs);

  const std::wstring other = std::wstring(kElsewhere) + L"\\other.log";
  ASSERT_TRUE(WriteFileBytes(other, forged));
  fs::remove(LogFile());
  ASSERT_TRUE(::CreateHardLinkW(LogFile().c_str(), other.c_str(), nullptr));
  ExpectRefused("Refused " + Utf8(LogFile()) + ": the file has another name (hard link)");
}

}  // namespace
}  // namespace starter::test
