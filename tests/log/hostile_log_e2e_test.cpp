// The real starter's log when other processes hold it or its folder: a lock
// without write sharing, a reader that keeps a full file from being rotated,
// a folder in which nothing can be created or renamed, and a program that
// keeps the writers' lock. The caller always gets its status line; every
// line that can be written is written, whole.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include "app/hostile_run.h"
#include "log/log_file.h"
#include "platform/handles.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMaxLogSize = 3145728;
constexpr char kHeld[] = "held by another process\r\n";

class HeldLog : public HostileRun {
 protected:
  void SetUp() override {
    HostileRun::SetUp();
    fs::create_directories(LogFolder());
  }
  static std::wstring LogFolder() { return fs::path(LogFile()).parent_path().wstring(); }
  static std::wstring RotatedFile() { return LogFolder() + L"\\zephra_vantic_starter.1.log"; }

  // Opens the log as another program would, sharing only what `share` allows.
  static platform::UniqueHandle Hold(DWORD share) {
    return platform::UniqueHandle(::CreateFileW(LogFile().c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  // The lines of one run, first to last, all there.
  static void ExpectWholeRun(const std::vector<std::string>& lines) {
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "info [ START ] 2.3.6.2");
    EXPECT_EQ(lines.back(), "info [ END ]\n");
    EXPECT_THAT(lines, ::testing::Contains("info check case..."));
  }
  // A log one line short of its rotation.
  static std::string NearlyFull() { return std::string(kMaxLogSize - 10, 'x') + "\r\n"; }
};

// Nothing can be written while the lock lasts, and nothing is torn into the
// holder's file; the lines written after the lock is gone reach the file.
TEST_F(HeldLog, ALockWithoutWriteSharingCostsOnlyTheLinesWhileItLasts) {
  platform::UniqueHandle holder = Hold(FILE_SHARE_READ);
  ASSERT_TRUE(holder);
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(holder.get(), kHeld, sizeof(kHeld) - 1, &written, nullptr));

  // The service never writes its marker: the test does, once the lock is
  // gone, so the run's last lines come after the release.
  StarterOutcome run;
  std::thread caller([&] { run = RunStarter({"--BrandleAgent", "Dravel"}, {{L"STANDIN_NO_MARKER", L"1"}}); });
  bool launched = WaitFor([&] { return !RecordedCommandLines().empty(); });
  EXPECT_EQ(ReadFileBytes(LogFile()), kHeld);
  holder.reset();
  EXPECT_TRUE(WriteFileBytes(ConnectedMarker(), "{}"));
  caller.join();
  ASSERT_TRUE(launched);

  ExpectCleanEnd(run, kSuccess);
  std::string text = ReadFileBytes(LogFile());
  EXPECT_EQ(text.rfind(kHeld, 0), 0u);
  EXPECT_TRUE(HasInOrder(LinesOf(run), {std::string("info OUTPUT->") + kSuccess, "info [ END ]\n"}));
}

// A reader that shares reading and writing but not deletion keeps the full
// file from being renamed: the lines go on into the full file rather than
// being lost.
TEST_F(HeldLog, AFullLogThatCannotBeRotatedStillTakesEveryLine) {
  ASSERT_TRUE(WriteFileBytes(LogFile(), NearlyFull()));
  platform::UniqueHandle reader(::CreateFileW(LogFile().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(reader);
  StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
  reader.reset();

  ExpectCleanEnd(run, kSuccess);
  EXPECT_EQ(ReadFileBytes(LogFile()).rfind(NearlyFull(), 0), 0u);
  EXPECT_FALSE(PathExists(RotatedFile()));
  ExpectWholeRun(LinesOf(run));
}

// In a folder where nothing can be created or renamed, the existing file
// still takes the run's lines, full or not; without a file the run is silent
// but the caller is served all the same.
TEST_F(HeldLog, AnUnwritableFolderKeepsWhatCanStillBeWritten) {
  ASSERT_TRUE(WriteFileBytes(LogFile(), NearlyFull()));
  StarterOutcome with_file, without_file;
  {
    UnwritableFolder unwritable(LogFolder());
    if (!unwritable.Engaged()) GTEST_SKIP() << "this machine cannot make a folder unwritable under wine";
    with_file = RunStarter({"--Dravel", "Brimvale"});
  }
  ExpectCleanEnd(with_file, kSuccess);
  ExpectWholeRun(LinesOf(with_file));
  EXPECT_FALSE(PathExists(RotatedFile()));

  ASSERT_TRUE(::DeleteFileW(LogFile().c_str()));
  {
    UnwritableFolder unwritable(LogFolder());
    ASSERT_TRUE(unwritable.Engaged());
    without_file = RunStarter({"--Dravel", "Brimvale"});
  }
  ExpectCleanEnd(without_file, kSuccess);
  EXPECT_FALSE(PathExists(LogFile()));
}

// Any account may take the writers' lock and never let it go: here this
// program does. The run waits for it once, half a second, then writes without it.
TEST_F(HeldLog, AWritersLockThatIsNeverReleasedCostsARunOneShortWait) {
  // The mutex every starter's log writes share, by its name, as any program may open it.
  const std::wstring name = L"Global\\" + log::WritersMutexName(LogFile());
  platform::UniqueHandle lock(::CreateMutexW(nullptr, FALSE, name.c_str()));
  ASSERT_TRUE(lock);
  ASSERT_EQ(::WaitForSingleObject(lock.get(), 10000), WAIT_OBJECT_0);
  StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
  ::ReleaseMutex(lock.get());

  ExpectCleanEnd(run, kSuccess);
  // One wait of 0.5 s; waiting for every line, as before, took over a minute.
  // Generous for a busy machine, yet far below a wait for each line.
  EXPECT_LT(run.process.seconds, 6.0);
  ExpectWholeRun(LinesOf(run));
}

// The caller reads the status line as soon as it is printed, while the run
// goes on: this program takes the writers' lock once the run's wait has
// begun, so the run, having printed, waits for it before it logs the line
// it printed. The line reaches the caller before the log has it.
TEST_F(HeldLog, TheCallerReadsTheStatusLineBeforeTheRunHasLoggedIt) {
  const std::wstring name = L"Global\\" + log::WritersMutexName(LogFile());
  platform::UniqueHandle lock(::CreateMutexW(nullptr, FALSE, name.c_str()));
  ASSERT_TRUE(lock);
  std::atomic<bool> read{false}, logged_before_read{false};
  on_output_ = [&](const std::string&) {
    if (!read.exchange(true)) logged_before_read = LoggedAt(std::string("OUTPUT->") + kSuccess).has_value();
  };
  std::future<StarterOutcome> running = std::async(std::launch::async, [this] {
    return RunStarter({"--Dravel", "Brimvale"}, {{L"STANDIN_LISTEN_DELAY_MS", L"3000"}});
  });
  const bool waiting = WaitFor([] { return LoggedAt("Case --Dravel Brimvale, check port").has_value(); });
  const bool locked = waiting && ::WaitForSingleObject(lock.get(), 10000) == WAIT_OBJECT_0;
  const StarterOutcome run = running.get();
  if (locked) ::ReleaseMutex(lock.get());
  ASSERT_TRUE(locked);
  ExpectCleanEnd(run, kSuccess);
  EXPECT_TRUE(read);
  EXPECT_FALSE(logged_before_read) << "the line came only once the run had logged it";
  ExpectWholeRun(LinesOf(run));
}

}  // namespace
}  // namespace starter::test
