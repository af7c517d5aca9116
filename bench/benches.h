#pragma once
// The measurements. Each prints its figures and returns true when its
// targets were met.
#include "install/install_paths.h"

namespace starter::bench {

struct Settings {
  int rounds = 15;  // repetitions of each figure
};

bool BenchReadinessPoll(const install::InstallLayout& layout, const Settings& settings);
bool BenchPortModeRun(const install::InstallLayout& layout, const Settings& settings);
bool BenchReadinessLatency(const install::InstallLayout& layout, const Settings& settings);
bool BenchPortSelection(const install::InstallLayout& layout, const Settings& settings);
bool BenchPollResources(const install::InstallLayout& layout, const Settings& settings);
bool BenchFolderChurn(const install::InstallLayout& layout, const Settings& settings);
bool BenchBusyMachineRun(const install::InstallLayout& layout, const Settings& settings);

}  // namespace starter::bench
