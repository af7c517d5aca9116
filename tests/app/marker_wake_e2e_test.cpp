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
constexpr char kOutputLine[] = R"(OUTPUT->{"Dravel":0,"Selkan":0})";

// Milliseconds on the clock of the log's time stamps (local time).
double ToMs(const SYSTEMTIME& time) {
  FILETIME file{};
  ::SystemTimeToFileTime(&time, &file);
  return static_cast<double>((static_cast<std::uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime) / 1e4;
}

double LocalNowMs() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return ToMs(now);
}

// When the log got its info line `message`, if it has one.
std::optional<double> LoggedAt(const std::string& message) {
  const std::string text = ReadFileBytes(StarterTest::LogFile());
  const std::size_t found = text.find("] [info] " + message + "\r\n");
  if (found == std::string::npos) return std::nullopt;
  const std::size_t line = text.rfind('\n', found);
  SYSTEMTIME time{};
  if (std::sscanf(text.c_str() + (line == std::string::npos ? 0 : line + 1), "[%*u] [%hu-%hu-%hu %hu:%hu:%hu.%hu]",
                  &time.wYear, &time.wMonth, &time.wDay, &time.wHour, &time.wMinute, &time.wSecond,
                  &time.wMilliseconds) != 7)
    return std::nullopt;
  return ToMs(time);
}

// Checks `condition` every millisecond, for at most `limit_ms`.
template <typename Condition>
bool AwaitClosely(Condition condition, int limit_ms) {
  for (const ULONGLONG end = ::GetTickCount64() + limit_ms; ::GetTickCount64() < end; ::Sleep(1))
    if (condition()) return true;
  return condition();
}

// One run, on the log's clock: when the wait began (the mode line, written
// just before the first poll), when the marker was written, and when the
// starter reported.
struct Timeline {
  double wait_began = 0;
  double marker_written = 0;
  double reported = 0;
};

class MarkerWake : public StarterTest {
 protected:
  // A starter in the process-and-file mode, with a service that never writes
  // its marker: the test writes it, `phase_ms` after the wait began.
  std::optional<Timeline> RunWithMarkerAt(double phase_ms) {
    KillProcessesNamed(L"java.exe");
    ::DeleteFileW(ConnectedMarker().c_str());
    ::DeleteFileW(LogFile().c_str());
    StarterOutcome run;
    std::thread starter([&] { run = RunStarter({"--BrandleAgent", "Dravel"}, {{L"STANDIN_NO_MARKER", L"1"}}); });
    Timeline timeline;
    std::optional<double> began;
    if (AwaitClosely([&] { return (began = LoggedAt(kModeLine)).has_value(); }, 30000)) {
      timeline.wait_began = *began;
      AwaitClosely([&] { return LocalNowMs() >= timeline.wait_began + phase_ms; }, 10000);
      timeline.marker_written = LocalNowMs();
      WriteFileBytes(ConnectedMarker(), "{}");
    }
    starter.join();
    const std::optional<double> reported = LoggedAt(kOutputLine);
    if (!began || !reported) return std::nullopt;
    timeline.reported = *reported;
    return timeline;
  }
};

// Polls on the clock alone cannot answer before the first period is over,
// 100 ms after the first poll ended. Woken by the marker's folder, the
// starter answers one poll after the marker, inside that period. A run in
// which the busy machine let the test write the marker late is repeated.
TEST_F(MarkerWake, AMarkerWrittenEarlyInTheFirstWaitIsAnsweredBeforeThatWaitEnds) {
  std::optional<Timeline> placed;
  for (int attempt = 0; attempt < 5 && !placed; ++attempt) {
    std::optional<Timeline> timeline = RunWithMarkerAt(25);
    ASSERT_TRUE(timeline) << "the run logged no wait or no success";
    if (timeline->marker_written - timeline->wait_began <= 45) placed = timeline;
  }
  ASSERT_TRUE(placed) << "the marker could not be written early in the wait";
  EXPECT_GE(placed->reported, placed->marker_written);
  EXPECT_LT(placed->reported - placed->wait_began, 100)
      << "marker written " << placed->marker_written - placed->wait_began << " ms into the wait";
}

}  // namespace
}  // namespace starter::test
