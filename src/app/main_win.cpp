// zephra_vantic_starter: brings up the local Vantic service and tells its
// caller, in one line on standard output, whether it became ready. Every run
// goes through the same stages, top to bottom below; none of them stops the
// run, and the exit code is always 0: the line is the answer.
#include <windows.h>

#include <chrono>
#include <optional>

#include "app/readiness_wait.h"
#include "app/run_limit.h"
#include "install/install_paths.h"
#include "install/markers.h"
#include "log/diag_log.h"
#include "log/log_file.h"
#include "log/log_text.h"
#include "contract/product_version.h"
#include "contract/run_log.h"
#include "platform/system_facts.h"
#include "port/port_selection.h"
#include "service/launch.h"
#include "service/process_detection.h"

namespace starter::app {
namespace {

using contract::Stage;

// Exactly the bytes of the line, with no line end, written to the handle
// itself: unbuffered, so a caller that reads as the output comes has it
// before the starter has released its watch and ended, and a write that
// fails says why (a closed pipe: ERROR_NO_DATA), which the runtime's
// streams do not. A write that takes part of the line is followed by one
// for the rest, as long as each takes something.
class StandardOutput final : public LineWriter {
 public:
  platform::Expected<std::size_t> Write(std::string_view line) override {
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    std::size_t taken = 0;
    DWORD written = 1;
    while (taken < line.size() && written > 0) {
      if (!::WriteFile(output, line.data() + taken, static_cast<DWORD>(line.size() - taken), &written, nullptr))
        return platform::LastError("WriteFile");
      taken += written;
    }
    return taken;
  }
};

constexpr int kTempProbeTries = 5;
constexpr std::chrono::milliseconds kTempRetryDelay{100};
static_assert(kTempProbeTries * kTempRetryDelay < contract::BoundOf(Stage::kTempProbe).bound,
              "the temp probe's tries and delays, with room for the looks, keep within its bound");

bool ProbeTemp() {
  for (int attempt = 0; attempt < kTempProbeTries; ++attempt) {
    if (service::IsDefaultTempUsable()) return true;
    ::Sleep(static_cast<DWORD>(kTempRetryDelay.count()));
  }
  return false;
}

// The stages, in their order. The run's limit is told each one it enters,
// so that when it ends a run it can say where the run was held up.
void RunStages(contract::CallerMode mode, int argc, char** argv, RunLimit& limit) {
  log::Info("{}", contract::StartMessage(contract::kProductVersion));
  for (int i = 1; i < argc; ++i) log::Info("{}", contract::ArgumentMessage(i, log::EscapeControls(argv[i])));
  if (!limit.started().ok()) log::Warn("run has no time limit: {}", platform::Describe(limit.started().error()));

  const install::InstallLayout layout = install::MakeInstallLayout(install::ReadProgramFilesFolder());

  limit.Enter(Stage::kTempProbe);
  const bool temp_ready = ProbeTemp();
  log::Info(temp_ready ? "default temp is ready" : "default temp is not ready");

  // Without a root every product path would name a folder at the root of the
  // current drive; nothing is deleted, created or launched from there.
  const bool have_root = !layout.root.empty();
  MachineProbe machine(layout.ConnectedMarker());
  if (have_root) {
    limit.Enter(Stage::kStaleMarker);
    ClearStaleConnectedMarker(machine);
    limit.Enter(Stage::kMarkerCreation);
    install::CreateMissingMarkers(layout.markers);
  } else {
    log::Warn("install root unknown: marker files and service launch skipped");
  }

  limit.Enter(Stage::kPortSelection);
  const std::uint16_t port = port::SelectServerPort();
  log::Info("start exe {} ...", port);
  limit.Enter(Stage::kLaunch);
  if (have_root) service::LaunchService(layout.java_runtime, layout.service_jar, temp_ready);

  limit.Enter(Stage::kWait);
  log::Info("check case...");
  ReportReadiness(mode, port, machine, limit.line());

  limit.Enter(Stage::kEnd);
}

}  // namespace
}  // namespace starter::app

int main(int argc, char** argv) {
  namespace app = starter::app;
  namespace log = starter::log;
  const starter::contract::CallerMode mode = starter::contract::ClassifyCallerMode(argc, argv);
  // The limit comes first, before the log opens its file: the log's own
  // folders and file may be what holds the run up.
  app::StandardOutput standard_output;
  app::RunLimit limit(mode, standard_output);
  // Then the log, before every stage, so that each can log unconditionally.
  // A log file that cannot be opened is dealt with inside: the run goes on
  // with a logger that writes nowhere.
  const log::DiagnosticLog diagnostic_log = log::OpenStarterLog();
  // Stages report their troubles through their results; only something like
  // exhausted memory or a thread that cannot be created escapes one. Callers
  // still get their line and exit code 0, and the log the run's end.
  app::RunToItsEnd(mode, limit.line(), limit.end(), [&] { app::RunStages(mode, argc, argv, limit); });
  // Before the log closes at exit: from here on the limit never writes.
  limit.Finish();
  return 0;
}
