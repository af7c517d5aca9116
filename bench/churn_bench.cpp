// A folder that never rests: the Vantic folder rewritten every millisecond
// for a whole wait, as a service rewriting its files in a loop, a backup tool
// or a virus scanner might. The wait must still last its 200 periods, the
// extra polls the changes bring must keep at most one per 10 ms, and the
// starter must not spin: its CPU time over the wait is shown. The product's
// loop runs once in this process, where every poll is counted, and once in a
// real starter run.
#include <atomic>
#include <cstdio>
#include <thread>

#include "app/readiness_wait.h"
#include "bench/bench_env.h"
#include "bench/benches.h"
#include "bench/figures.h"
#include "install/markers.h"
#include "port/server_port.h"
#include "service/process_detection.h"
#include "support/win_test_env.h"

namespace starter::bench {
namespace {

constexpr std::uint16_t kWaitPort = 47615;    // in-process: outside the shared service range
constexpr std::uint16_t kStarterPort = 9699;  // the real starter keeps to the range
// What callers are promised: 200 polls, each followed by 100 ms.
constexpr int kClockPolls = 200;
constexpr double kFullWaitMs = kClockPolls * 100.0;
// Extra polls come no closer than 10 ms after the poll before.
constexpr double kMinExtraPollGapMs = 10.0;

// Rewrites a file in the folder about every millisecond while it lives.
class Churn {
 public:
  explicit Churn(const std::wstring& folder)
      : file_(folder + L"\\churn.tmp"), worker_([this] { Run(); }) {}
  ~Churn() {
    stop_ = true;
    worker_.join();
    ::DeleteFileW(file_.c_str());
  }
  Churn(const Churn&) = delete;
  Churn& operator=(const Churn&) = delete;

  long Rewrites() const { return rewrites_; }

 private:
  void Run() {
    for (std::int64_t next = NowTicks(); !stop_; ::Sleep(1)) {
      test::WriteFileBytes(file_, std::to_string(next));
      ++rewrites_;
      next = NowTicks();
    }
  }

  std::wstring file_;
  std::atomic<bool> stop_{false};
  std::atomic<long> rewrites_{0};
  std::thread worker_;
};

bool PrintWaitFigures(double wait_ms, double cpu_ms, long rewrites) {
  std::printf("    %-42s %.2f s, folder rewritten %.0f times a second\n", "wait", wait_ms / 1000,
              1000.0 * static_cast<double>(rewrites) / wait_ms);
  PrintCpuTime(cpu_ms, wait_ms);
  return PrintFloor("wait until the timeout", wait_ms / 1000, kFullWaitMs / 1000, "s");
}

// The product's probe, its polls counted at the port check each makes first.
struct CountedProbe final : app::ReadinessProbe {
  CountedProbe(const std::wstring& marker, int& polls_made) : machine(marker), polls(polls_made) {}
  app::PortCheck CheckPort(std::uint16_t port) override {
    ++polls;
    return machine.CheckPort(port);
  }
  platform::Expected<service::ServiceSearch> FindService() override { return machine.FindService(); }
  bool MarkerPresent() override { return machine.MarkerPresent(); }
  void RemoveConnectedMarker() override { machine.RemoveConnectedMarker(); }
  void KeepConnectedMarker() override { machine.KeepConnectedMarker(); }
  std::unique_ptr<app::FolderWatch> WatchMarkerFolder() override { return machine.WatchMarkerFolder(); }
  std::unique_ptr<app::FolderWatch> WatchNothing() override { return machine.WatchNothing(); }
  app::MachineProbe machine;
  int& polls;
};

// The product's loop and checks in this process, every poll counted.
bool InProcessWait(const install::InstallLayout& layout, const Churn& churn) {
  std::printf("  the product's poll loop in this process:\n");
  if (!StartListeningService(layout, kWaitPort)) {
    std::printf("    the stand-in service did not come up\n");
    return false;
  }
  int polls = 0;
  std::string printed;
  CountedProbe probe(layout.ConnectedMarker(), polls);
  KeptLine kept(printed);
  app::StatusLineOnce print(kept);
  const double cpu_before = ThreadCpuMs();
  const long rewrites_before = churn.Rewrites();
  const double ms = TimeMs([&] { app::ReportReadiness(contract::CallerMode::kAllChecks, kWaitPort, probe, print); });
  const double cpu_ms = ThreadCpuMs() - cpu_before;
  const long rewrites = churn.Rewrites() - rewrites_before;
  StopServices(layout);
  const bool waited = PrintWaitFigures(ms, cpu_ms, rewrites);
  const double most = kClockPolls + ms / kMinExtraPollGapMs;
  std::printf("    %-42s %d (%d on the clock, %d extra)\n", "polls", polls, kClockPolls, polls - kClockPolls);
  const bool calm = PrintTarget("polls in the wait", polls, most, "");
  return printed == kNoArgumentTimeout && waited && calm;
}

// A real run with no arguments against a service that listens and never
// writes its marker.
bool StarterWait(const Churn& churn) {
  std::printf("  a real starter run (no arguments):\n");
  test::StoreServerPort(kStarterPort);
  const long rewrites_before = churn.Rewrites();
  const SampledWait wait = RunSampledWait();
  std::printf("    %-42s %s\n", "printed", wait.run.output.c_str());
  const bool waited = PrintWaitFigures(wait.WaitMs(), wait.WaitCpuMs(), churn.Rewrites() - rewrites_before);
  return wait.run.finished && wait.run.output == kNoArgumentTimeout && waited;
}

}  // namespace

bool BenchFolderChurn(const install::InstallLayout& layout, const Settings&) {
  std::printf("A folder rewritten every millisecond for a whole wait (no-argument mode, marker never written)\n");
  const FullWaitSetting setting(layout);
  const std::wstring folder = layout.ConnectedMarker().substr(0, layout.ConnectedMarker().rfind(L'\\'));
  Churn churn(folder);
  const bool in_process = InProcessWait(layout, churn);
  const bool starter = StarterWait(churn);
  StopServices(layout);
  return in_process && starter;
}

}  // namespace starter::bench
