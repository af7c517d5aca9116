// The run's limit on its time, end to end under wine: a run that is slow but
// making progress keeps its whole wait, and one held beyond every stage's
// bound still answers at its limit, with its log complete.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>

#include "platform/winsock.h"
#include "port/tcp_table.h"
#include "support/port_env.h"
#include "support/starter_run.h"

namespace starter::test {
namespace {

using ::testing::Contains;
using ::testing::Not;
using ::testing::StartsWith;

// Two rows each: under wine 8 a read of every row with owners then takes
// seconds, which the polls no longer make; the listeners alone stay cheap.
constexpr int kConnections = 500;
constexpr char kLimitWarning[] = "warning run ended at its time limit in ";

double SecondsOfOneListenerRead() {
  const auto began = std::chrono::steady_clock::now();
  const platform::Expected<port::TcpTables> tables = port::ReadMachineTcpTables(port::TableRows::kListeners);
  EXPECT_TRUE(tables.ok());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

// The first thread of the process named `image_name`, the one its entry
// point runs on, suspended: a stand-in for a call that never returns (a
// share that hangs, a filter driver). Answers whether it was suspended.
bool SuspendMainThreadOf(const std::wstring& image_name) {
  const platform::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD, 0));
  PROCESSENTRY32W process{};
  process.dwSize = sizeof(process);
  DWORD process_id = 0;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &process); more; more = ::Process32NextW(snapshot.get(), &process))
    if (image_name == process.szExeFile) process_id = process.th32ProcessID;
  THREADENTRY32 thread{};
  thread.dwSize = sizeof(thread);
  platform::UniqueHandle first;
  ULONGLONG first_created = ~0ULL;
  for (BOOL more = ::Thread32First(snapshot.get(), &thread); more; more = ::Thread32Next(snapshot.get(), &thread)) {
    if (process_id == 0 || thread.th32OwnerProcessID != process_id) continue;
    platform::UniqueHandle handle(::OpenThread(THREAD_SUSPEND_RESUME | THREAD_QUERY_INFORMATION, FALSE, thread.th32ThreadID));
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!handle || !::GetThreadTimes(handle.get(), &created, &exited, &kernel, &user)) continue;
    const ULONGLONG ticks = (ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime;
    if (ticks < first_created) {
      first_created = ticks;
      first = std::move(handle);
    }
  }
  return first && ::SuspendThread(first.get()) != static_cast<DWORD>(-1);
}

class RunLimitRun : public StarterTest {
 protected:
  // A run whose main thread is held once `reached` holds, as a call that
  // never returns would hold it: the run its limit ended, which must end on
  // its own with exit code 0.
  StarterOutcome RunHeldOnce(const std::function<bool()>& reached, const std::vector<std::string>& arguments,
                             const Environment& environment) {
    std::future<StarterOutcome> running =
        std::async(std::launch::async, [&] { return RunStarter(arguments, environment); });
    EXPECT_TRUE(WaitFor(reached));
    EXPECT_TRUE(SuspendMainThreadOf(L"zephra_vantic_starter.exe"));
    StarterOutcome run = running.get();
    std::printf("the run took %.1f s\n", run.process.seconds);
    EXPECT_TRUE(run.process.finished);
    EXPECT_EQ(run.process.exit_code, 0u);
    return run;
  }
  // The last `count` lines of the run's log.
  static std::vector<std::string> LastLines(const StarterOutcome& run, std::ptrdiff_t count) {
    return {run.log.end() - std::min<std::ptrdiff_t>(count, run.log.size()), run.log.end()};
  }

  platform::WinsockSession winsock_;
};

// The limit is a backstop, not a cut: a port-mode run on a busy machine
// keeps its 200 polls, and its wait runs out by itself, well before the limit.
TEST_F(RunLimitRun, APortModeRunOnABusyMachineKeepsItsWholeWait) {
  const LoopbackConnections busy(kConnections);
  ASSERT_EQ(busy.Count(), kConnections);
  std::printf("one read of the listeners with %d connections open: %.3f s\n", kConnections, SecondsOfOneListenerRead());

  // The service never listens: the wait cannot succeed.
  const StarterOutcome run = RunStarter({"--Dravel", "Brimvale"}, {{L"STANDIN_NO_LISTEN", L"1"}});
  std::printf("the run took %.1f s\n", run.process.seconds);
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.exit_code, 0u);
  EXPECT_EQ(run.process.standard_output, R"({"Dravel":1,"Selkan":0})");
  EXPECT_LT(run.process.seconds, 53.0);
  EXPECT_THAT(run.log, Not(Contains(StartsWith(kLimitWarning))));
  EXPECT_THAT(run.log, Contains("info wait ended: port not LISTENING"));
  EXPECT_THAT(run.log, Contains(R"(info OUTPUT->{"Dravel":1,"Selkan":0})"));
}

// A run whose wait never returns (its thread is held, as a hung call would
// hold it) still answers: at the limit the caller reads the timeout line, and
// the log has the run to its end, so it reads as complete.
TEST_F(RunLimitRun, ARunHeldInItsWaitEndsAtItsLimitAndIsLoggedToItsEnd) {
  const StarterOutcome run =
      RunHeldOnce([] { return LoggedAt("Case --Dravel Brimvale, check port").has_value(); }, {"--Dravel", "Brimvale"},
                  {{L"STANDIN_NO_LISTEN", L"1"}});
  EXPECT_EQ(run.process.standard_output, R"({"Dravel":1,"Selkan":0})");
  EXPECT_GE(run.process.seconds, 53.0);
  EXPECT_THAT(LastLines(run, 3), ::testing::ElementsAre("warning run ended at its time limit in wait",
                                                        R"(info OUTPUT->{"Dravel":1,"Selkan":0})", "info [ END ]\n"));

  // The status report reads it as the last run, with what it printed and
  // where the limit ended it.
  const ProcessOutcome report = RunProcess(StatusExe(), L"\"" + StatusExe() + L"\" --json");
  EXPECT_THAT(report.standard_output,
              ::testing::HasSubstr(R"("status_line":"{\"Dravel\":1,\"Selkan\":0}","wait_ended":null,)"
                                   R"("time_limit_stage":"wait")"));
  EXPECT_THAT(report.standard_output, ::testing::HasSubstr(R"("process_id":)" + std::to_string(run.process.process_id)));
}

// A mode that does not wait has the shorter limit, 21 s. Held in its port
// selection (the listing hangs, and the run's thread is held once the
// listing's netstat runs, so once it is in the listing's job), such a run
// ends at that limit with nothing printed, as its mode prints nothing, its
// log names the stage and ends the run, and the listing ends with it.
TEST_F(RunLimitRun, AModeThatDoesNotWaitEndsAt21SecondsHavingPrintedNothing) {
  const StarterOutcome run = RunHeldOnce([] { return CountProcessesNamed(L"netstat.exe") > 0; },
                                         {"--BrandleAgent", "UninstallReport"}, {{L"NETSTAT_STANDIN_HANG", L"1"}});
  EXPECT_EQ(run.process.standard_output, "");
  EXPECT_GE(run.process.seconds, 21.0);
  EXPECT_LT(run.process.seconds, 53.0);
  EXPECT_THAT(LastLines(run, 2),
              ::testing::ElementsAre("warning run ended at its time limit in port selection", "info [ END ]\n"));
  EXPECT_TRUE(WaitFor([] {
    return CountProcessesNamed(L"netstat.exe") + CountProcessesNamed(L"findstr.exe") + CountProcessesNamed(L"cmd.exe") == 0;
  }));
}

}  // namespace
}  // namespace starter::test
