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
#include <optional>
#include <string>
#include <string_view>
#include <thread>

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

}  // namespace

int main(int argc, char** argv) {
  const bool json = argc == 2 && std::strcmp(argv[1], "--json") == 0;
  if (argc > 2 || (argc == 2 && !json)) {
    std::fprintf(stderr, "usage: zephra_vantic_status [--json]\n");
    return starter::status::ExitCodeOf(State::kUnknown);
  }
  StandardOutput output;
  const Observations header = starter::status::Header();
  std::atomic<const char*> looking_at{"the machine"};
  // Whatever escapes the looking becomes an unknown verdict that names it,
  // never a crash whose exit code would read as a verdict.
  std::packaged_task<Observations()> gather([&looking_at, &header] {
    try {
      return starter::status::Gather(looking_at);
    } catch (...) {
      return starter::status::FailedLooking(header, looking_at.load());
    }
  });
  std::future<Observations> seen = gather.get_future();
  std::thread worker(std::move(gather));
  if (seen.wait_for(kReportLimit) == std::future_status::ready) {
    worker.join();
    return WriteReport(seen.get(), json, output);
  }
  // The check that hangs keeps its thread. The process ends as the
  // starter's run limit ends it (app/run_limit_win.cpp): exit, _Exit and
  // ExitProcess run library detach code under the loader lock, which the
  // hung thread may hold inside a library; TerminateProcess takes no lock,
  // and the report went out through a flushed stream.
  worker.detach();
  Observations partial = header;
  partial.unanswered = looking_at.load();
  const int code = WriteReport(partial, json, output);
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
  return code;
}
