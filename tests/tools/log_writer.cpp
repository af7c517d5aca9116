// Writes numbered lines through the shared log sink, the way a starter does:
//   log_writer <log path> <max size> <writer id> <line count>
// The log's two innermost folders are the sink's own. Each line is
// "<writer id> <n> " followed by padding, so a test can tell torn, lost and
// repeated lines apart.
#include <spdlog/pattern_formatter.h>
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <string>

#include "log/log_file.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return 2;
  auto sink = starter::log::OpenSharedLogFile(starter::log::SplitLogPath(argv[1], 2),
                                              std::wcstoull(argv[2], nullptr, 10));
  spdlog::logger logger("writer", sink);
  logger.set_formatter(std::make_unique<spdlog::pattern_formatter>("%v", spdlog::pattern_time_type::local, "\r\n"));
  long writer = std::wcstol(argv[3], nullptr, 10);
  long count = std::wcstol(argv[4], nullptr, 10);
  for (long n = 0; n < count; ++n) logger.info("{} {} {:->60}", writer, n, '|');
  return 0;
}
