// zephra_vantic_status: what state the Vantic service is in, and why, for the
// people who support the product. It only looks; the exit code says the
// verdict (0 ready, 1 running but not ready, 3 not running, 4 not installed
// or unknown).
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <thread>

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

int Report(const starter::status::Observations& seen, bool json) {
  const starter::status::Verdict verdict = starter::status::JudgeState(seen);
  Print(json ? FormatJson(seen, verdict) : FormatText(seen, verdict));
  return starter::status::ExitCodeOf(verdict.state);
}

}  // namespace

int main(int argc, char** argv) {
  const bool json = argc == 2 && std::strcmp(argv[1], "--json") == 0;
  if (argc > 2 || (argc == 2 && !json)) {
    std::fprintf(stderr, "usage: zephra_vantic_status [--json]\n");
    return starter::status::ExitCodeOf(State::kUnknown);
  }
  std::atomic<const char*> looking_at{"the machine"};
  std::packaged_task<starter::status::Observations()> gather([&looking_at] { return starter::status::Gather(looking_at); });
  std::future<starter::status::Observations> seen = gather.get_future();
  std::thread worker(std::move(gather));
  if (seen.wait_for(kReportLimit) == std::future_status::ready) {
    worker.join();
    return Report(seen.get(), json);
  }
  // The check that hangs keeps its thread; the process ends without it.
  worker.detach();
  starter::status::Observations partial;
  partial.unanswered = looking_at.load();
  const int code = Report(partial, json);
  std::_Exit(code);
}
