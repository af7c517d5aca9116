// The time limit on a command's output, under wine with the netstat stand-in
// told never to end. Wine's cmd runs "a | b" one stage after the other, so a
// hung netstat means findstr never starts: the limit must end what runs.
#include "port/command_output.h"

#include "platform/win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/program_deadline.h"
#include "platform/system_folders.h"
#include "support/log_capture.h"
#include "support/port_env.h"
#include "support/win_test_env.h"

namespace starter::port {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using std::chrono::milliseconds;

bool NoStandInLeft() {
  return test::WaitFor([] {
    return test::CountProcessesNamed(L"netstat.exe") == 0 && test::CountProcessesNamed(L"findstr.exe") == 0;
  });
}

class HungListing : public ::testing::Test {
 protected:
  void TearDown() override { test::KillProcessesNamed(L"netstat.exe"); }

  test::StandinListing netstat_;
  test::ScopedEnvironmentVariable hang_{L"NETSTAT_STANDIN_HANG", L"1"};
};

TEST_F(HungListing, EndsEveryProgramOfThePipelineAndTheReadAtTheLimit) {
  test::LogCapture log;
  std::string output;
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_EQ(ReadCommandOutput("netstat -ano | findstr 9673", output, milliseconds(1000)),
            CommandOutput::kTimedOut);
  const ULONGLONG took = ::GetTickCount64() - start;
  EXPECT_GE(took, 1000u);
  EXPECT_LT(took, 4000u);
  EXPECT_THAT(output, IsEmpty());
  EXPECT_THAT(log.Lines(),
              ElementsAre("warning: cmd.exe /c netstat -ano | findstr 9673 ran out of time after 1000 ms and was ended"));
  EXPECT_TRUE(NoStandInLeft());
}

// Where the system refuses the program a job (the starter sits in one that
// allows no other: Windows 7), the programs are found by parent id. Wine
// always grants the job, so the test takes it away from the deadline and
// holds it itself, which ends whatever is left when the test is done.
struct Unjobbed {
  platform::ProgramWithOutput started;
  platform::UniqueHandle job;
};

Unjobbed StartWithoutJob(const std::wstring& command) {
  const std::wstring system = platform::SystemDirectory();
  platform::Expected<platform::ProgramWithOutput> started =
      platform::StartWithOutputPipe(system + L"\\cmd.exe", system, L"cmd.exe /c " + command);
  if (!started) return {};
  platform::UniqueHandle job = std::move(started->job);
  return {std::move(*started), std::move(job)};
}

// Reads the pipe to its end or its failure; milliseconds it took.
ULONGLONG ReadAll(HANDLE pipe) {
  const ULONGLONG start = ::GetTickCount64();
  char chunk[512];
  DWORD got = 0;
  while (::ReadFile(pipe, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
  }
  return ::GetTickCount64() - start;
}

TEST_F(HungListing, WithoutAJobTheProgramsFoundByParentIdAreEndedAndTheReadIsCancelled) {
  // cmd and the netstat it started: both found, the pipe ends with them.
  Unjobbed direct = StartWithoutJob(L"netstat -ano");
  ASSERT_TRUE(direct.job);
  {
    platform::ProgramDeadline deadline(direct.started);
    ASSERT_FALSE(deadline.Start(milliseconds(500)));
    EXPECT_LT(ReadAll(direct.started.output.get()), 3000u);
    EXPECT_TRUE(deadline.Expired());
  }
  EXPECT_EQ(::WaitForSingleObject(direct.started.program.process(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(NoStandInLeft());  // while the test still holds the job

  // "start /b" runs its program through start.exe, which has ended by the
  // time the search runs: that netstat is not found and keeps the pipe open.
  Unjobbed escaped = StartWithoutJob(L"start /b netstat -ano & netstat -ano");
  ASSERT_TRUE(escaped.job);
  ASSERT_TRUE(test::WaitFor([] { return test::CountProcessesNamed(L"netstat.exe") == 2; }));
  {
    platform::ProgramDeadline deadline(escaped.started);
    ASSERT_FALSE(deadline.Start(milliseconds(500)));
    EXPECT_LT(ReadAll(escaped.started.output.get()), 3000u);
    EXPECT_TRUE(deadline.Expired());
  }
  escaped.job.reset();
  EXPECT_TRUE(NoStandInLeft());
}

// A starter with a console of its own lets the command share it; one
// without gives the command a console of its own (with no window).
TEST(CommandConsole, SharedWhenTheStarterHasOneElseItsOwn) {
  const std::wstring probe = test::TestBinDir() + L"\\console_probe.exe";
  const std::string self = std::to_string(::GetCurrentProcessId()) + " ";
  const auto attached = [&probe] {
    std::string output;
    ReadProgramOutput(probe, test::TestBinDir(), L"console_probe.exe", output, milliseconds(30000));
    return " " + output;
  };
  ::FreeConsole();  // in case the test was run from a console
  const std::string own = attached();
  EXPECT_THAT(own, ::testing::Not(::testing::HasSubstr(" " + self)));
  EXPECT_THAT(own, ::testing::Not(::testing::HasSubstr("no console")));

  ASSERT_TRUE(::AllocConsole());
  const std::string shared = attached();
  ::FreeConsole();
  EXPECT_THAT(shared, ::testing::HasSubstr(" " + self));
}

}  // namespace
}  // namespace starter::port
