// Resources over a full wait of the no-argument mode: the product's poll loop
// runs here, in this process, against a service that listens but never
// writes its marker, so all 200 polls are made. Handles and private bytes
// after the last poll must equal those after the first.
#include "platform/win.h"

#include <psapi.h>

#include <cstdio>

#include "app/caller_mode.h"
#include "bench/bench_env.h"
#include "bench/benches.h"
#include "bench/figures.h"
#include "install/markers.h"
#include "port/port_listening.h"
#include "port/port_win_env.h"
#include "service/process_detection.h"

namespace starter::bench {
namespace {

constexpr std::uint16_t kWaitPort = 47614;  // outside the shared service range

struct Usage {
  DWORD handles = 0;
  SIZE_T private_bytes = 0;
  SIZE_T peak_working_set = 0;
};

Usage Sample() {
  Usage usage;
  ::GetProcessHandleCount(::GetCurrentProcess(), &usage.handles);
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof(memory);
  if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof(memory))) {
    usage.private_bytes = memory.PrivateUsage;
    usage.peak_working_set = memory.PeakWorkingSetSize;
  }
  return usage;
}

std::vector<Usage> WaitOutAllPolls(const install::InstallLayout& layout, std::string& printed) {
  std::vector<Usage> after_poll;
  app::ReadinessProbe probe;
  probe.port_listening = [] { return port::IsPortListening(kWaitPort); };
  probe.service_running = [] { return service::IsServiceProcessRunning(0); };
  probe.marker_present = [&] { return install::IsFilePresent(layout.connected_marker); };
  probe.sleep_between_polls = [&] {
    after_poll.push_back(Sample());
    ::Sleep(100);
  };
  probe.print = [&](const std::string& line) { printed = line; };
  app::CheckCaseWith(app::CallerMode::kNoArgument, app::ResultLines{}, probe);
  return after_poll;
}

}  // namespace

bool BenchPollResources(const install::InstallLayout& layout, const Settings&) {
  std::printf("Resources over a full 200-poll wait (no-argument mode, marker never written)\n");
  StopServices(layout);
  test::ScopedEnvironmentVariable no_marker(L"STANDIN_NO_MARKER", L"1");
  test::ScopedEnvironmentVariable lifetime(L"STANDIN_LIFETIME_MS", L"60000");
  if (!StartListeningService(layout, kWaitPort)) {
    std::printf("  the stand-in service did not come up\n");
    return false;
  }
  std::string printed;
  const std::int64_t start = NowTicks();
  const std::vector<Usage> usage = WaitOutAllPolls(layout, printed);
  const double seconds = TicksToMs(NowTicks() - start) / 1000;
  StopServices(layout);
  if (usage.size() != static_cast<std::size_t>(app::kMaxPolls) || printed != app::ResultLines{}.all_timeout) {
    std::printf("  the wait ended after %zu polls with \"%s\"\n", usage.size(), printed.c_str());
    return false;
  }
  const Usage& first = usage.front();
  const Usage& last = usage.back();
  std::printf("  wait took %.2f s for %zu polls\n", seconds, usage.size());
  std::printf("  %-44s after poll 1: %lu, after poll 200: %lu\n", "handles", first.handles, last.handles);
  std::printf("  %-44s after poll 1: %lu, after poll 200: %lu\n", "private bytes",
              static_cast<unsigned long>(first.private_bytes), static_cast<unsigned long>(last.private_bytes));
  std::printf("  %-44s %lu KiB\n", "peak working set", static_cast<unsigned long>(last.peak_working_set / 1024));
  const bool met = last.handles == first.handles && last.private_bytes <= first.private_bytes;
  std::printf("  %-44s %s\n", "no growth of handles or private bytes", met ? "met" : "MISSED");
  return met;
}

}  // namespace starter::bench
