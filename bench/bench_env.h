#pragma once
// What every measurement stands on: the product laid out in the prefix's
// Program Files with the stand-in service as its java.exe, the service port
// stored for it, and a way to run a program and time what reaches its caller.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/run_limit.h"
#include "bench/process_usage.h"
#include "bench/stage_times.h"
#include "install/install_paths.h"
#include "support/port_env.h"

namespace starter::bench {

// The status line of a no-argument wait that ran out, as a caller reads it.
inline constexpr char kNoArgumentTimeout[] = R"({"Dravel":1,"Selkan":1})";

// Creates the product's folders with the stand-in service as java.exe and a
// jar, with no service running and no connected marker.
install::InstallLayout PrepareInstallTree();

// Ends every stand-in service and removes the connected marker it wrote.
void StopServices(const install::InstallLayout& layout);

// Starts the service as the starter does (detached, inheriting this process's
// environment) and waits until it listens on `port`, which is stored first so
// the stand-in picks it up. False when it never listens.
bool StartListeningService(const install::InstallLayout& layout, std::uint16_t port);

// Milliseconds of kernel and user time so far; negative when unknown.
double ProcessCpuMs(HANDLE process);
double ThreadCpuMs();

// While it lives, a full wait is what a starter run gets: no service
// running, the netstat stand-in showing the machine's own table, and a
// service launched from now on that listens, never writes its marker and
// lives through the wait.
class FullWaitSetting {
 public:
  explicit FullWaitSetting(const install::InstallLayout& layout);

 private:
  test::StandinListing tools_;
  test::ScopedEnvironmentVariable no_marker_{L"STANDIN_NO_MARKER", L"1"};
  test::ScopedEnvironmentVariable lifetime_{L"STANDIN_LIFETIME_MS", L"60000"};
};

struct TimedRun {
  bool finished = false;
  std::uint32_t exit_code = 0;
  std::string output;
  std::int64_t started = 0;       // performance-counter ticks
  std::int64_t first_output = 0;  // ticks when the first bytes arrived (0 when none did)
  std::int64_t ended = 0;         // ticks when the output ended and the process was gone
  RunWindow window;               // the same run on the log's clock
  double cpu_ms = -1;             // its kernel and user time
  double Ms() const;
};

// Called about every 100 ms while the program runs, with its process.
using Monitor = std::function<void(HANDLE process, DWORD process_id)>;

// Runs `program` with `arguments` and this process's environment, reading its
// standard output to the end. Ended after `limit_ms`.
TimedRun RunTimed(const std::wstring& program, const std::wstring& arguments,
                  const Monitor& monitor = {}, DWORD limit_ms = 60000);

// A real starter run with no arguments, sampled about every 100 ms from the
// moment the service it launched exists, that is from its wait, to its exit.
struct SampledWait {
  TimedRun run;
  std::vector<Usage> samples;
  std::int64_t began = 0;    // ticks of the first sample
  double cpu_at_begin = -1;  // the starter's CPU time then
  double WaitMs() const;
  double WaitCpuMs() const { return run.cpu_ms - cpu_at_begin; }
};
SampledWait RunSampledWait();

// Runs a command line through the command interpreter as the starter's
// availability check does, in the system folder, reading its output to the
// end; milliseconds taken.
double TimePipeline(const char* command_line);

// While it lives, this process has a console of its own (`with_console`) or
// none. The starter runs as such a caller starts it (RunTimed): with that
// console, as one started without a window gets a hidden one, or detached. A
// starter with a console lets its pipelines share it; one without gives each
// a windowless console of its own, as a bare pipeline of a process without a
// console gets one too.
class ConsoleSetting {
 public:
  explicit ConsoleSetting(bool with_console);
  ~ConsoleSetting();
  ConsoleSetting(const ConsoleSetting&) = delete;
  ConsoleSetting& operator=(const ConsoleSetting&) = delete;

  // "with a console" or "detached", for the figures' names.
  const char* Name() const { return with_console_ ? "with a console" : "detached"; }

 private:
  bool with_console_;
};

// Keeps the status line the product's wait prints, as the caller would read it.
class KeptLine final : public app::LineWriter {
 public:
  explicit KeptLine(std::string& into) : line_(into) {}
  platform::Expected<std::size_t> Write(std::string_view text) override {
    line_ = text;
    return text.size();
  }

 private:
  std::string& line_;
};

}  // namespace starter::bench
