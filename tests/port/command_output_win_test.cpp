// The command runner on the real system: the whole output in text mode, an
// interpreter that cannot start, the one handle the command inherits; what
// wine cannot show of the time limit on a command (the system refusing the
// command a job, or a read that something outside the job holds open); and
// whether the command shares the starter's console.
#include "port/command_output.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "log/diag_log.h"
#include "log/log_text.h"
#include "platform/handles.h"
#include "platform/process_start.h"
#include "platform/system_facts.h"
#include "support/log_capture.h"
#include "support/product_internals.h"
#include "support/port_env.h"
#include "support/win_test_env.h"

namespace starter::port {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// A limit no command of these tests comes near.
constexpr std::chrono::milliseconds kAmpleTime{30000};

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

int StandInsRunning() { return test::CountProcessesNamed(L"netstat.exe") + test::CountProcessesNamed(L"findstr.exe"); }

// Runs `command` through cmd with the netstat stand-in hung, its job taken
// away as where the system refuses one (Windows 7, a starter inside a job
// that allows no other), under a limit of 500 ms. The test holds the job, so
// what the search by parent id misses ends with it. True when the read of
// the output ended within 3 s and, with `all_found`, every stand-in ended
// while the test still held the job.
bool ReadEndsWithoutAJob(const std::wstring& command, bool all_found) {
  const std::wstring system = platform::SystemDirectory();
  platform::Expected<platform::ProgramWithOutput> started =
      platform::StartWithOutputPipe(system + L"\\cmd.exe", system, L"cmd.exe /c " + command);
  if (!started.ok()) return false;
  const platform::UniqueHandle job = std::move(started->job);
  if (!job || !test::WaitFor([] { return StandInsRunning() > 0; })) return false;
  platform::ProgramDeadline deadline(*started);
  if (!deadline.Start(std::chrono::milliseconds(500)).ok()) return false;
  const ULONGLONG start = ::GetTickCount64();
  char chunk[512];
  DWORD got = 0;
  while (::ReadFile(started->output.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
  }
  const bool ended = deadline.Expired() && ::GetTickCount64() - start < 3000;
  return ended && (!all_found || test::WaitFor([] { return StandInsRunning() == 0; }));
}

TEST(CommandWithoutAJob, WhatTheSearchByParentIdFindsIsEndedAndABlockedReadIsCancelled) {
  const test::StandinListing netstat;
  const test::ScopedEnvironmentVariable hang(L"NETSTAT_STANDIN_HANG", L"1");
  // cmd and the netstat it started: both found and ended, the pipe with them.
  EXPECT_TRUE(ReadEndsWithoutAJob(L"netstat -ano", true));
  // start.exe has ended before the search, so the netstat it started is not
  // found and holds the pipe open: the read is cancelled.
  EXPECT_TRUE(ReadEndsWithoutAJob(L"start /b netstat -ano & netstat -ano", false));
  EXPECT_TRUE(test::WaitFor([] { return StandInsRunning() == 0; }));
}

// A log whose every line takes a while to reach its file, in a synchronous
// read the writing thread can have cancelled (as a write to a slow disk or a
// network share can be). Each line is kept as written or as cut short.
class SlowLog final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<std::string> written, cut_short;

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(::CreatePipe(&read, &write, nullptr, 0));
    const platform::UniqueHandle read_end(read), write_end(write);
    // The disk's time: far longer than the watch's gap between two cancellations.
    std::thread disk([&write_end] {
      ::Sleep(400);
      DWORD done = 0;
      ::WriteFile(write_end.get(), "x", 1, &done, nullptr);
    });
    char byte = 0;
    DWORD got = 0;
    const bool done = ::ReadFile(read_end.get(), &byte, 1, &got, nullptr);
    disk.join();
    (done ? written : cut_short).emplace_back(msg.payload.data(), msg.payload.size());
  }
  void flush_() override {}
};

// After a listing ran out of time, the watch cancelled this thread's I/O
// every 100 ms for as long as it lived: a warning written meanwhile could
// be cancelled itself, and never reach the log.
TEST(CommandOutOfTime, ItsWarningIsWrittenOnceTheWatchHasStopped) {
  const test::StandinListing netstat;
  const test::ScopedEnvironmentVariable hang(L"NETSTAT_STANDIN_HANG", L"1");
  const auto slow = std::make_shared<SlowLog>();
  std::optional<log::DiagnosticLog> installed(std::in_place, std::make_shared<spdlog::logger>("slow", slow));
  std::string output;
  const CommandOutput outcome = ReadCommandOutput("netstat -ano", output, std::chrono::milliseconds(500));
  installed.reset();
  EXPECT_EQ(outcome, CommandOutput::kTimedOut);
  EXPECT_THAT(slow->written,
              ::testing::ElementsAre("cmd.exe /d /c netstat -ano ran out of time after 500 ms and was ended"));
  EXPECT_THAT(slow->cut_short, ::testing::IsEmpty());
  EXPECT_TRUE(test::WaitFor([] { return StandInsRunning() == 0; }));
}

// A read that something outside the command's job still holds open is
// cancelled at the limit: the log says "read pipe error", the runtime's
// code on a line of its own, then that the command ran out of time.
TEST(CommandOutOfTime, AReadHeldOpenOutsideTheJobIsAReadPipeErrorWithItsCode) {
  const test::LogCapture log;
  const std::wstring handle_file = test::ScratchDir() + L"\\kept_output_" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring command = L"output_keeper.exe " + std::to_wstring(::GetCurrentProcessId()) + L" \"" + handle_file + L"\"";
  std::string output;
  const CommandOutput outcome = ReadProgramOutput(test::TestBinDir() + L"\\output_keeper.exe", test::TestBinDir(),
                                                  command, output, std::chrono::milliseconds(500));
  const std::string kept = test::ReadFileBytes(handle_file);
  if (!kept.empty()) ::CloseHandle(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::stoul(kept))));
  ::DeleteFileW(handle_file.c_str());
  ASSERT_FALSE(kept.empty()) << "the output was not handed over";
  EXPECT_EQ(outcome, CommandOutput::kTimedOut);
  EXPECT_THAT(log.Lines(),
              ::testing::ElementsAre("info: read pipe error", ::testing::StartsWith("info: fread errno="),
                                     "warning: " + log::WideToUtf8(command) + " ran out of time after 500 ms and was ended"));
}

// A starter with a console of its own lets the command share it; one
// without gives the command a console of its own (with no window).
TEST(CommandConsole, SharedWhenTheStarterHasOneElseItsOwn) {
  const auto consoles_processes = [] {
    std::string output;
    ReadProgramOutput(test::TestBinDir() + L"\\console_probe.exe", test::TestBinDir(), L"console_probe.exe", output,
                      std::chrono::seconds(30));
    return " " + output;
  };
  const std::string self = " " + std::to_string(::GetCurrentProcessId()) + " ";
  ::FreeConsole();  // in case the test was run from a console
  const std::string own = consoles_processes();
  EXPECT_THAT(own, Not(HasSubstr(self)));
  EXPECT_THAT(own, Not(HasSubstr("no console")));
  ASSERT_TRUE(::AllocConsole());
  const std::string shared = consoles_processes();
  ::FreeConsole();
  EXPECT_THAT(shared, HasSubstr(self));
}

}  // namespace
}  // namespace starter::port
