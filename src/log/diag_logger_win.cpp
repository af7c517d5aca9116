#include <spdlog/spdlog.h>

#include <cstdio>

#include "contract/product_contract.h"
#include "log/diag_logger.h"
#include "log/starter_version.h"
#include "log/shared_file_sink.h"

namespace starter::log {

void CreateDiagnosticLogger() {
  std::vector<spdlog::sink_ptr> sinks;
  try {
    sinks.push_back(std::make_shared<SharedFileSink>(SplitLogPath(contract::kLogFile, contract::kOwnLogFolders), contract::kMaxLogSize));
  } catch (const spdlog::spdlog_ex& error) {
    // Without its file (one that cannot be opened, or a folder or file that
    // is refused) the starter still owes its caller the status line and
    // exit code 0: it runs on with a logger that has nowhere to write.
    std::fprintf(stderr, "[*** LOG ERROR ***] %s\n", error.what());
  }
  InstallDiagnosticLogger(
      std::make_shared<spdlog::logger>(kStarterVersion, sinks.begin(), sinks.end()));
}

}  // namespace starter::log
