// The real starter reading java.exe processes that do not play fair: one
// that damaged its own command line after it started, and many that exit
// while the starter walks the process list and reads them.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "app/hostile_run.h"
#include "platform/handles.h"
#include "support/standin_processes.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::Not;

struct Rewrite {
  const char* name;
  const wchar_t* how;  // STANDIN_REWRITE_COMMAND_LINE
  bool recognised;
  friend void PrintTo(const Rewrite& rewrite, std::ostream* out) { *out << rewrite.name; }
};

class DamagedCommandLine : public HostileRun, public ::testing::WithParamInterface<Rewrite> {};

// The text is what lies within MaximumLength bytes of Buffer, up to a NUL if
// there is one: Length does not limit it, nothing past the buffer extends it,
// and an unreadable buffer is no service. The verdict shows twice: in the
// stale-marker step and in the process-and-file mode's polls.
TEST_P(DamagedCommandLine, IsJudgedByWhatItsBufferHolds) {
  const Rewrite& rewrite = GetParam();
  StandInProcesses services({{L"STANDIN_REWRITE_COMMAND_LINE", rewrite.how}, {L"STANDIN_NO_LISTEN", L"1"}});
  StartedProcess damaged = services.Start(L"java.exe", L"-jar \"" + VanticDir() + L"\\Vantic.jar\"");
  ASSERT_NE(damaged.process_id, 0u);
  // The stand-in writes its marker only after the rewrite.
  ASSERT_TRUE(WaitFor([] { return PathExists(ConnectedMarker()); }));
  // Without a launch the damaged process is the only service there can be.
  if (rewrite.recognised) {
    ASSERT_TRUE(::DeleteFileW(JavaExe().c_str()));
  }

  StarterOutcome run = RunStarter({"--BrandleAgent", "Dravel"});
  ExpectCleanEnd(run, kSuccess);
  std::vector<std::string> lines = LinesOf(run);
  if (rewrite.recognised) {
    EXPECT_THAT(lines, Not(Contains("info Vantic process not exist")));
    EXPECT_THAT(lines, Contains("warning CreateProcess GLE=2"));
  } else {
    // The stale marker goes; success comes from the service launched afterwards.
    EXPECT_TRUE(HasInOrder(lines, {"info Vantic process not exist", "info remove WsClientConnected.json",
                                   "info CreateProcess succeeds"}));
  }
  EXPECT_EQ(::WaitForSingleObject(damaged.handle, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ExpectWholeLog();
}

INSTANTIATE_TEST_SUITE_P(
    Rewrites, DamagedCommandLine,
    ::testing::Values(Rewrite{"NoNul", L"no_nul", true},
                      Rewrite{"NoNulEndingInsideTheJarName", L"no_nul_cut", false},
                      Rewrite{"BufferUnmapped", L"unmapped", false},
                      Rewrite{"LengthZero", L"zero_length", true}),
    [](const auto& param) { return std::string(param.param.name); });

// Starts java.exe processes running Vantic.jar that exit as soon as they
// have started, one after another, until told to stop.
class ShortLivedServices {
 public:
  ShortLivedServices() : program_(fs::temp_directory_path().wstring() + L"\\short lived\\java.exe") {
    fs::create_directories(fs::path(program_).parent_path());
    fs::copy_file(TestBinDir() + L"\\standin_service.exe", program_, fs::copy_options::overwrite_existing);
    for (int i = 0; i < 2; ++i) threads_.emplace_back([this] { Churn(); });
  }
  ~ShortLivedServices() {
    Stop();
    std::error_code ignored;
    fs::remove_all(fs::path(program_).parent_path(), ignored);
  }
  ShortLivedServices(const ShortLivedServices&) = delete;
  ShortLivedServices& operator=(const ShortLivedServices&) = delete;

  void Stop() {
    stop_ = true;
    for (std::thread& thread : threads_)
      if (thread.joinable()) thread.join();
  }
  int Started() const { return started_; }

 private:
  void Churn() {
    std::wstring environment = L"STANDIN_LIFETIME_MS=0";
    environment += L'\0';
    environment += L"STANDIN_NO_LISTEN=1";
    environment += L'\0';
    environment += L"STANDIN_NO_MARKER=1";
    environment += L'\0';
    environment += L'\0';
    while (!stop_) {
      std::wstring command = L"\"" + program_ + L"\" -jar \"C:\\elsewhere\\Vantic.jar\"";
      STARTUPINFOW startup{};
      startup.cb = sizeof(startup);
      PROCESS_INFORMATION info{};
      if (!::CreateProcessW(program_.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                            environment.data(), nullptr, &startup, &info))
        return;
      platform::UniqueHandle process(info.hProcess), thread(info.hThread);
      ++started_;
      ::WaitForSingleObject(process.get(), 10000);
    }
  }

  std::wstring program_;
  std::atomic<bool> stop_{false};
  std::atomic<int> started_{0};
  std::vector<std::thread> threads_;
};

// Processes that vanish between the snapshot, the open and the reads are
// passed over: the real service is still found once its marker is there.
TEST_F(HostileMachine, ServicesExitingWhileTheyAreReadDoNotDisturbTheWait) {
  ShortLivedServices churn;
  StarterOutcome run = RunStarter({"--BrandleAgent", "Dravel"}, {{L"STANDIN_MARKER_DELAY_MS", L"3000"}});
  const int during_run = churn.Started();
  churn.Stop();
  ExpectCleanEnd(run, kSuccess);
  EXPECT_GE(run.process.seconds, 2.9);
  EXPECT_GE(during_run, 10);  // the walks really met them
  ExpectWholeLog();
}

}  // namespace
}  // namespace starter::test
