// Benchmark of the starter under wine: speed of a readiness poll, of a whole
// run and of the port selection, readiness latency, resources over a full
// wait, a full wait beside a folder that changes all the time, and a whole
// run beside many TCP connections. Run through scripts/bench.sh.
//   starter_bench [--rounds N] [poll] [run] [latency] [select] [resources] [churn] [connections]
// Without names every benchmark runs. Exit code 0 when every target was met.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_env.h"
#include "bench/benches.h"
#include "log/log_file.h"
#include "support/win_test_env.h"

namespace {

using starter::bench::Settings;
using Bench = bool (*)(const starter::install::InstallLayout&, const Settings&);

struct Named {
  const char* name;
  Bench run;
};

constexpr Named kBenches[] = {
    {"poll", starter::bench::BenchReadinessPoll},
    {"run", starter::bench::BenchPortModeRun},
    {"latency", starter::bench::BenchReadinessLatency},
    {"select", starter::bench::BenchPortSelection},
    {"resources", starter::bench::BenchPollResources},
    {"churn", starter::bench::BenchFolderChurn},
    {"connections", starter::bench::BenchBusyMachineRun},
};

// What a caller installs, and the debug information kept back from it.
void PrintExecutableSize() {
  const std::filesystem::path exe = starter::test::StarterExe();
  std::error_code failed;
  const std::uintmax_t shipped = std::filesystem::file_size(exe, failed);
  const std::uintmax_t debug = std::filesystem::file_size(exe.wstring() + L".debug", failed);
  std::printf("starter executable: %ju bytes (debug file beside it: %ju bytes)\n", shipped, debug);
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  std::vector<std::string> chosen;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) settings.rounds = std::atoi(argv[++i]);
    else chosen.push_back(argv[i]);
  }
  // The same logger as the starter's, so in-process measurements pay for the
  // same log lines a run writes.
  const starter::log::DiagnosticLog diagnostic_log = starter::log::OpenStarterLog();

  const starter::install::InstallLayout layout = starter::bench::PrepareInstallTree();
  int met = 0, ran = 0;
  for (const Named& bench : kBenches) {
    if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), bench.name) == chosen.end()) continue;
    ++ran;
    met += bench.run(layout, settings) ? 1 : 0;
    std::printf("\n");
    std::fflush(stdout);
  }
  starter::bench::StopServices(layout);
  PrintExecutableSize();
  std::printf("%d of %d benchmarks met their targets\n", met, ran);
  return met == ran ? 0 : 1;
}
