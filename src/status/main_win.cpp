// zephra_vantic_status: what state the Vantic service is in, and why, for the
// people who support the product. It only looks; the exit code says the
// verdict (0 ready, 1 running but not ready, 3 not running, 4 not installed
// or unknown). kHelp below lists its options.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "log/starter_version.h"
#include "status/observations.h"
#include "status/report.h"
#include "status/verdict.h"

namespace {

using starter::status::State;

// Every check answers at once on a healthy machine; one that does not
// (a hung driver, a frozen file server) must not hang the report.
constexpr std::chrono::seconds kReportLimit{10};

// UTF-8 text: as wide characters to a console, which would otherwise show it
// in its own code page, and as the bytes themselves to a file or pipe.
void Print(const std::string& text) {
  HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (::GetConsoleMode(output, &mode)) {
    std::wstring wide(static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), static_cast<int>(wide.size()));
    DWORD written = 0;
    ::WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

constexpr char kUsage[] = "usage: zephra_vantic_status [--json] | --history [N] [--json] | --help | --version\n";
constexpr char kHelp[] =
    "What state the Vantic service is in, and why. It only looks: it changes nothing.\n"
    "\n"
    "  (no option)        the report, as text\n"
    "  --json             the report as one JSON object (docs/status-report.schema.json)\n"
    "  --history [N]      the last N completed starter runs from the log (default 20, at most 200),\n"
    "                     newest last, and a summary; with --json as one JSON object\n"
    "                     (docs/status-history.schema.json)\n"
    "  --help             this text\n"
    "  --version          the version\n"
    "\n"
    "Exit codes of the report: 0 ready, 1 starting or not ready, 3 not running, 4 not installed or unknown.\n"
    "Of --history: 0 when the log was read (or is not there), 4 when it could not be. Of a wrong option: 4.\n";

struct Options {
  enum class Action { kReport, kHistory, kHelp, kVersion, kWrong } action = Action::kReport;
  bool json = false;
  std::size_t runs = starter::status::kDefaultHistoryRuns;
};

// A run count of 1 to kMaxHistoryRuns, in decimal.
bool ReadRunCount(const char* text, std::size_t& runs) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*text < '1' || *text > '9' || *end != '\0' || value > starter::status::kMaxHistoryRuns) return false;
  runs = value;
  return true;
}

Options ReadOptions(int argc, char** argv) {
  Options options;
  using Action = Options::Action;
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return {Action::kHelp};
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return {Action::kVersion};
  for (int i = 1; i < argc; ++i) {
    const bool first_history = std::strcmp(argv[i], "--history") == 0 && options.action == Action::kReport;
    if (std::strcmp(argv[i], "--json") == 0 && !options.json) options.json = true;
    else if (first_history) options.action = Action::kHistory;
    else if (i > 1 && std::strcmp(argv[i - 1], "--history") == 0 && ReadRunCount(argv[i], options.runs)) continue;
    else return {Action::kWrong};
  }
  return options;
}

int Report(const starter::status::Observations& seen, const Options& options) {
  if (options.action == Options::Action::kHistory) {
    Print(options.json ? FormatHistoryJson(seen) : FormatHistoryText(seen));
    const bool read = seen.unanswered.empty() && seen.failed.empty() && !seen.log_unread;
    return read ? 0 : starter::status::ExitCodeOf(State::kUnknown);
  }
  const starter::status::Verdict verdict = starter::status::JudgeState(seen);
  Print(options.json ? FormatJson(seen, verdict) : FormatText(seen, verdict));
  return starter::status::ExitCodeOf(verdict.state);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ReadOptions(argc, argv);
  switch (options.action) {
    case Options::Action::kWrong:
      std::fputs(kUsage, stderr);
      return starter::status::ExitCodeOf(State::kUnknown);
    case Options::Action::kHelp: Print(std::string(kUsage) + "\n" + kHelp); return 0;
    case Options::Action::kVersion: Print(std::string("zephra_vantic_status ") + starter::log::kStarterVersion + "\n"); return 0;
    case Options::Action::kReport:
    case Options::Action::kHistory: break;
  }
  std::atomic<const char*> looking_at{"the machine"};
  // Whatever escapes the looking becomes an unknown verdict that names it,
  // never a crash whose exit code would read as a verdict.
  std::packaged_task<starter::status::Observations()> gather([&looking_at, &options] {
    return starter::status::GatherGuarded(
        [&looking_at, &options] {
          return options.action == Options::Action::kHistory ? starter::status::GatherHistory(looking_at, options.runs)
                                                             : starter::status::Gather(looking_at);
        },
        looking_at);
  });
  std::future<starter::status::Observations> seen = gather.get_future();
  std::thread worker(std::move(gather));
  if (seen.wait_for(kReportLimit) == std::future_status::ready) {
    worker.join();
    return Report(seen.get(), options);
  }
  // The check that hangs keeps its thread; the process ends without it.
  worker.detach();
  starter::status::Observations partial;
  partial.unanswered = looking_at.load();
  const int code = Report(partial, options);
  std::_Exit(code);
}
