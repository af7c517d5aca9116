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
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <memory>
#include <stdexcept>

#include "contract/product_version.h"
#include "platform/debug_privilege.h"
#include "platform/system_facts.h"
#include "status/looking.h"
#include "status/observations.h"
#include "status/report.h"
#include "status/verdict.h"

namespace {

using starter::status::Observations;
using starter::status::State;

// Every check answers at once on a healthy machine; one that does not
// (a hung driver, a frozen file server) must not hang the report.
constexpr std::chrono::seconds kReportLimit{10};

// Standard output: UTF-8 text as wide characters to a console, which would
// otherwise show it in its own code page, and as the bytes themselves to a
// file or pipe.
class StandardOutput final : public starter::status::ReportOutput {
 public:
  std::optional<std::wstring> ConsoleText(const std::string& utf8) override {
    DWORD mode = 0;
    if (!::GetConsoleMode(output_, &mode)) return std::nullopt;
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
    return wide;
  }
  std::optional<std::size_t> WriteConsole(std::wstring_view text) override {
    DWORD written = 0;
    if (!::WriteConsoleW(output_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) return std::nullopt;
    return written;
  }
  std::optional<std::size_t> WriteBytes(std::string_view bytes) override {
    const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    if (std::fflush(stdout) != 0 || written == 0) return std::nullopt;
    return written;
  }

 private:
  HANDLE output_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
};

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

// The worker: a thread of the C runtime's (it allocates and formats), which
// owns its work, waited for at most the limit. One that does not end keeps
// its work for good: the process ends around it.
unsigned __stdcall DoWork(void* work) {
  const std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(work));
  (*owned)();
  return 0;
}

bool RunOnWorker(std::function<void()> work, std::chrono::milliseconds limit) {
  auto owned = std::make_unique<std::function<void()>>(std::move(work));
  const starter::platform::Expected<starter::platform::UniqueHandle> worker =
      starter::platform::StartThread(DoWork, owned.get());
  if (!worker.ok()) throw std::runtime_error(starter::platform::Describe(worker.error()));
  static_cast<void>(owned.release());  // the worker's now
  return ::WaitForSingleObject(worker->get(), static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
}

// The report or the history, and its exit code.
int Report(const Options& options, StandardOutput& output) {
  const starter::status::ReportRequest request{options.action == Options::Action::kHistory, options.json};
  std::atomic<const char*> looking_at{"the machine"};
  try {
    // Once, before any look: an elevated run examines another account's java.exe with it.
    const starter::platform::Expected<bool> debug_privilege = starter::platform::EnableDebugPrivilege();
    const Observations header = starter::status::Header();
    const starter::status::Looked looked = starter::status::LookWithin(
        [&looking_at, &options, &debug_privilege] {
          return options.action == Options::Action::kHistory ? starter::status::GatherHistory(looking_at, options.runs)
                                                             : starter::status::Gather(looking_at, debug_privilege);
        },
        RunOnWorker, kReportLimit, looking_at, header);
    const int code = WriteReport(looked.seen, request, output);
    // The check that hangs keeps its thread. The process ends as the
    // starter's run limit ends it (app/run_limit_win.cpp): exit, _Exit and
    // ExitProcess run library detach code under the loader lock, which the
    // hung thread may hold inside a library; TerminateProcess takes no lock,
    // and the report went out through a flushed stream.
    if (!looked.ended) ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
    return code;
  } catch (...) {
    // Memory refused before the looking began (the header) or around it:
    // unknown, with what failed, as any looking that fails.
    try {
      return WriteReport(starter::status::FailedLooking(Observations(), "its own start"), request, output);
    } catch (...) {
      return starter::status::ExitCodeOf(State::kUnknown);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ReadOptions(argc, argv);
  StandardOutput output;
  switch (options.action) {
    case Options::Action::kWrong:
      std::fputs(kUsage, stderr);
      return starter::status::ExitCodeOf(State::kUnknown);
    case Options::Action::kHelp: return WriteAll(std::string(kUsage) + "\n" + kHelp, output) ? 0 : 4;
    case Options::Action::kVersion:
      return WriteAll(std::string("zephra_vantic_status ") + starter::contract::kProductVersion + "\n", output) ? 0 : 4;
    case Options::Action::kReport:
    case Options::Action::kHistory: break;
  }
  return Report(options, output);
}
