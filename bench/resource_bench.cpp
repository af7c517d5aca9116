// Resources over a full wait of the no-argument mode, against a service that
// listens but never writes its marker, so all 200 polls are made. Handles and
// private bytes after the last poll must equal those after the first. The
// product's poll loop runs once here, in this process, where "after poll n"
// is exact, and once in a real starter run, sampled from outside.
#include <algorithm>
#include <cstdio>

#include "app/readiness_wait.h"
#include "bench/bench_env.h"
#include "bench/benches.h"
#include "bench/figures.h"
#include "bench/process_usage.h"
#include "install/markers.h"
#include "port/server_port.h"
#include "service/process_detection.h"
#include "support/win_test_env.h"

namespace starter::bench {
namespace {

constexpr std::uint16_t kWaitPort = 47614;     // in-process: outside the shared service range
constexpr std::uint16_t kStarterPort = 9697;  // the real starter keeps to the range

Usage OwnUsage() { return SampleUsage(::GetCurrentProcess(), ::GetCurrentProcessId()); }

// The product's probe, sampled after the marker check that ends each poll.
struct SampledProbe final : app::ReadinessProbe {
  SampledProbe(const std::wstring& marker, std::vector<Usage>& samples) : machine(marker), after_poll(samples) {}
  app::PortCheck CheckPort(std::uint16_t port) override { return machine.CheckPort(port); }
  platform::Expected<service::ServiceSearch> FindService() override { return machine.FindService(); }
  bool MarkerPresent() override {
    const bool present = machine.MarkerPresent();
    after_poll.push_back(OwnUsage());
    return present;
  }
  void RemoveConnectedMarker() override { machine.RemoveConnectedMarker(); }
  void KeepConnectedMarker() override { machine.KeepConnectedMarker(); }
  std::unique_ptr<app::FolderWatch> WatchMarkerFolder() override { return machine.WatchMarkerFolder(); }
  std::unique_ptr<app::FolderWatch> WatchNothing() override { return machine.WatchNothing(); }
  app::MachineProbe machine;
  std::vector<Usage>& after_poll;
};

// The product's loop with the product's checks and its watch on the
// marker's folder; a sample after every poll (each reaches the marker check).
std::vector<Usage> WaitOutAllPolls(const install::InstallLayout& layout, std::string& printed) {
  std::vector<Usage> after_poll;
  SampledProbe probe(layout.ConnectedMarker(), after_poll);
  KeptLine kept(printed);
  app::StatusLineOnce line(kept);
  app::ReportReadiness(contract::CallerMode::kAllChecks, kWaitPort, probe, line);
  return after_poll;
}

void PrintUsage(const char* first_label, const Usage& first, const char* last_label, const Usage& last) {
  std::printf("    %-42s %s %u, %s %u\n", "handles", first_label, first.handles, last_label, last.handles);
  std::printf("    %-42s %s %llu, %s %llu\n", "private bytes", first_label,
              static_cast<unsigned long long>(first.private_bytes), last_label,
              static_cast<unsigned long long>(last.private_bytes));
  std::printf("    %-42s %llu KiB\n", "peak working set",
              static_cast<unsigned long long>(last.peak_working_set / 1024));
}

bool NoGrowth(const Usage& first, const Usage& last) {
  const bool met = last.handles == first.handles && last.private_bytes <= first.private_bytes;
  std::printf("    %-42s %s\n", "no growth of handles or private bytes", met ? "met" : "MISSED");
  return met;
}

bool InProcessWait(const install::InstallLayout& layout) {
  std::printf("  the product's poll loop in this process:\n");
  if (!StartListeningService(layout, kWaitPort)) {
    std::printf("    the stand-in service did not come up\n");
    return false;
  }
  std::string printed;
  std::vector<Usage> usage;
  const double ms = TimeMs([&] { usage = WaitOutAllPolls(layout, printed); });
  std::printf("    %zu polls in %.2f s, printed %s\n", usage.size(), ms / 1000, printed.c_str());
  StopServices(layout);
  // Nothing changes in the folder, so no poll beyond those of the clock is expected.
  if (usage.size() != 200u || printed != kNoArgumentTimeout)
    return false;
  PrintUsage("after poll 1:", usage.front(), "after poll 200:", usage.back());
  return NoGrowth(usage.front(), usage.back());
}

// What a run holds between its polls: a sample may fall inside a poll, which
// holds a snapshot and a process for a moment, so the least over a second of
// samples is taken.
constexpr std::ptrdiff_t kRestingSamples = 10;

template <typename Samples>
Usage Resting(Samples begin, Samples end) {
  Usage least = *begin;
  for (Samples sample = begin; sample != end; ++sample) {
    least.handles = std::min(least.handles, sample->handles);
    least.private_bytes = std::min(least.private_bytes, sample->private_bytes);
    least.peak_working_set = std::max(least.peak_working_set, sample->peak_working_set);
  }
  return least;
}

// A real run: sampled from its first poll (the service it launched exists)
// to its exit.
bool StarterWait(const install::InstallLayout& layout) {
  std::printf("  a real starter run (no arguments), sampled every 100 ms:\n");
  test::StoreServerPort(kStarterPort);
  const SampledWait wait = RunSampledWait();
  const TimedRun& run = wait.run;
  const std::vector<Usage>& polling = wait.samples;
  StopServices(layout);
  std::printf("    run took %.2f s, printed %s, %zu samples while polling\n", run.Ms() / 1000, run.output.c_str(),
              polling.size());
  PrintCpuTime(wait.WaitCpuMs(), wait.WaitMs());
  if (run.output != kNoArgumentTimeout || static_cast<std::ptrdiff_t>(polling.size()) <= 2 * kRestingSamples)
    return false;
  // The last sample may catch the process on its way out; the ones before it
  // follow the last polls.
  const auto end = polling.end() - 1;
  const Usage first = Resting(polling.begin(), polling.begin() + kRestingSamples);
  Usage last = Resting(end - kRestingSamples, end);
  for (const Usage& sample : polling)
    last.peak_working_set = std::max(last.peak_working_set, sample.peak_working_set);
  PrintUsage("first second:", first, "last second:", last);
  return NoGrowth(first, last);
}

}  // namespace

bool BenchPollResources(const install::InstallLayout& layout, const Settings&) {
  std::printf("Resources over a full 200-poll wait (no-argument mode, marker never written)\n");
  const FullWaitSetting setting(layout);
  const bool in_process = InProcessWait(layout);
  return StarterWait(layout) && in_process;
}

}  // namespace starter::bench
