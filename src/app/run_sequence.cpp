#include "app/run_sequence.h"

#include <string_view>

#include "log/diag_log.h"
#include "log/diag_logger.h"
#include "log/log_settings.h"

namespace starter::app {

int RunStarter(int argc, char** argv) {
  log::ConfigureDiagnosticLog();
  log::Info("[ START ] {}", log::kStarterVersion);
  for (int i = 1; i < argc; ++i) log::Info("param {}->{}", i, std::string_view(argv[i]));

  log::Info("check case...");

  log::Info("[ END ]\n");
  log::Flush();
  return 0;
}

}  // namespace starter::app
