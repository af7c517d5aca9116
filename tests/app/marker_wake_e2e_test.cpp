// The real starter waiting for the connected marker: a marker written while
// it waits is answered at once, not at the next poll of the clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <thread>

#include "support/starter_run.h"

namespace starter::test {
namespace {

constexpr char kModeLine[] = "Case --BrandleAgent Dravel, check process and file";

// Milliseconds on the clock of the log's time stamps (local time).
double Ms(const SYSTEMTIME& time) {
  FILETIME file{};
  ::SystemTimeToFileTime(&time, &file);
  return static_cast<double>((static_cast<std::uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime) / 1e4;
}

double NowMs() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return Ms(now);
}

// When the log got the info line `message`, if it did.
std::optional<double> LoggedAt(const std::string& message) {
  const std::string text = ReadFileBytes(StarterTest::LogFile());
  const std::size_t found = text.find("] [info] " + message + "\r\n");
  if (found == std::string::npos) return std::nullopt;
  SYSTEMTIME time{};
  std::sscanf(text.c_str() + text.rfind('[', found), "[%hu-%hu-%hu %hu:%hu:%hu.%hu]",
              &time.wYear, &time.wMonth, &time.wDay, &time.wHour, &time.wMinute, &time.wSecond, &time.wMilliseconds);
  return Ms(time);
}

// Checks `condition` every millisecond, for at most 30 s.
template <typename Condition>
bool AwaitClosely(Condition condition) {
  for (const ULONGLONG end = ::GetTickCount64() + 30000; ::GetTickCount64() < end; ::Sleep(1))
    if (condition()) return true;
  return false;
}

class MarkerWake : public StarterTest {};

// Polls on the clock alone cannot answer before the first period is over,
// 100 ms after the first poll ended. Woken by the marker's folder, the
// starter answers one poll after the marker, well inside that period. The
// test writes the marker 25 ms into the wait (begun at the mode line); a run
// in which the busy machine let it write later than 45 ms is repeated.
TEST_F(MarkerWake, AMarkerWrittenEarlyInTheFirstWaitIsAnsweredBeforeThatWaitEnds) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    KillProcessesNamed(L"java.exe");
    ::DeleteFileW(ConnectedMarker().c_str());
    ::DeleteFileW(LogFile().c_str());
    std::thread starter([&] { RunStarter({"--BrandleAgent", "Dravel"}, {{L"STANDIN_NO_MARKER", L"1"}}); });
    std::optional<double> began;
    const bool waiting = AwaitClosely([&] { return (began = LoggedAt(kModeLine)).has_value(); }) &&
                         AwaitClosely([&] { return NowMs() >= *began + 25; });
    const double written = NowMs();
    WriteFileBytes(ConnectedMarker(), "{}");
    starter.join();
    const std::optional<double> answered = LoggedAt(std::string("OUTPUT->") + kSuccess);
    ASSERT_TRUE(waiting && answered) << "no wait, or no success";
    if (written - *began > 45) continue;
    EXPECT_GE(*answered, written);
    EXPECT_LT(*answered - *began, 100) << "marker written " << written - *began << " ms into the wait";
    return;
  }
  FAIL() << "the marker could not be written early in the wait";
}

}  // namespace
}  // namespace starter::test
