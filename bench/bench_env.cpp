#include "bench/bench_env.h"

#include <cstdio>
#include <filesystem>
#include <thread>

#include "bench/figures.h"
#include "install/install_paths.h"
#include "platform/handles.h"
#include "platform/process_start.h"
#include "platform/system_facts.h"
#include "app/readiness_wait.h"
#include "port/server_port.h"
#include "service/process_detection.h"
#include "service/launch.h"
#include "support/win_test_env.h"

namespace starter::bench {
namespace fs = std::filesystem;

install::InstallLayout PrepareInstallTree() {
  const install::InstallLayout layout = install::MakeInstallLayout(install::ReadProgramFilesFolder());
  StopServices(layout);
  const fs::path java = layout.java_runtime;
  const fs::path vantic = fs::path(layout.ConnectedMarker()).parent_path();
  fs::create_directories(java.parent_path());
  fs::create_directories(vantic);
  fs::copy_file(test::TestBinDir() + L"\\standin_service.exe", java, fs::copy_options::overwrite_existing);
  test::WriteFileBytes(vantic / L"Vantic.jar", "PK stand-in jar");
  return layout;
}

void StopServices(const install::InstallLayout& layout) {
  test::KillProcessesNamed(L"java.exe");
  ::DeleteFileW(layout.ConnectedMarker().c_str());
}

bool StartListeningService(const install::InstallLayout& layout, std::uint16_t port) {
  test::StoreServerPort(port);
  service::LaunchService(layout.java_runtime, layout.service_jar, true);
  return test::WaitFor([port] { return app::MachineProbe(L"").CheckPort(port).ready; }, 20000);
}

namespace {

double CpuMs(const FILETIME& kernel, const FILETIME& user) {
  auto ms = [](const FILETIME& time) {
    return static_cast<double>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e4;
  };
  return ms(kernel) + ms(user);
}

}  // namespace

double ProcessCpuMs(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  return ::GetProcessTimes(process, &created, &exited, &kernel, &user) ? CpuMs(kernel, user) : -1;
}

double ThreadCpuMs() {
  FILETIME created{}, exited{}, kernel{}, user{};
  return ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user) ? CpuMs(kernel, user) : -1;
}

FullWaitSetting::FullWaitSetting(const install::InstallLayout& layout) {
  StopServices(layout);
  tools_.ShowMachineTable();
}

double TimedRun::Ms() const { return TicksToMs(ended - started); }

TimedRun RunTimed(const std::wstring& program, const std::wstring& arguments, const Monitor& monitor,
                  DWORD limit_ms) {
  TimedRun run;
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE read_raw = nullptr;
  HANDLE write_raw = nullptr;
  if (!::CreatePipe(&read_raw, &write_raw, &inheritable, 0)) return run;
  platform::UniqueHandle read_end(read_raw);
  platform::UniqueHandle write_end(write_raw);
  ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end.get();
  std::wstring command_line = L"\"" + program + L"\" " + arguments;
  PROCESS_INFORMATION info{};
  // As a caller would: one with a console hands it on, one without starts the
  // program detached (left to itself, a console program would get a console
  // of its own, with a window on Windows).
  const DWORD console = platform::HasOwnConsole() ? 0 : DETACHED_PROCESS;
  run.window.started_ms = LocalClockMs();
  run.started = NowTicks();
  if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, console, nullptr,
                        nullptr, &startup, &info))
    return run;
  platform::UniqueHandle process(info.hProcess);
  platform::UniqueHandle thread(info.hThread);
  run.window.process_id = info.dwProcessId;
  write_end.reset();  // the child holds the only write end now

  // Watches the child while this thread reads its output; a hung child is
  // ended, which also ends its output.
  bool timed_out = false;
  std::thread watchdog([&] {
    const ULONGLONG deadline = ::GetTickCount64() + limit_ms;
    while (::WaitForSingleObject(process.get(), monitor ? 100 : limit_ms) == WAIT_TIMEOUT) {
      if (::GetTickCount64() >= deadline) {
        timed_out = true;
        ::TerminateProcess(process.get(), 255);
        return;
      }
      if (monitor) monitor(process.get(), info.dwProcessId);
    }
  });
  char chunk[4096];
  DWORD got = 0;
  while (::ReadFile(read_end.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
    if (!run.first_output) run.first_output = NowTicks();
    run.output.append(chunk, got);
  }
  watchdog.join();
  run.ended = NowTicks();
  run.window.ended_ms = LocalClockMs();
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  run.exit_code = code;
  run.finished = !timed_out;
  run.cpu_ms = ProcessCpuMs(process.get());
  return run;
}

double SampledWait::WaitMs() const { return TicksToMs(run.ended - began); }

SampledWait RunSampledWait() {
  SampledWait wait;
  wait.run = RunTimed(test::StarterExe(), L"", [&](HANDLE process, DWORD id) {
    if (wait.samples.empty()) {
      const platform::Expected<service::ServiceSearch> search = service::MachineProcesses().FindService();
      if (!search.ok() || *search != service::ServiceSearch::kFound) return;
      wait.began = NowTicks();
      wait.cpu_at_begin = ProcessCpuMs(process);
    }
    wait.samples.push_back(SampleUsage(process, id));
  });
  return wait;
}

double TimePipeline(const char* command_line) {
  // In the system folder, as the starter runs its pipeline: cmd then finds
  // the same netstat and findstr there as the starter's does. Wine loads a
  // program in system32 that stands in for a built-in one about 7 ms more
  // slowly than the same file elsewhere, which a floor run from the stand-ins'
  // own folder would leave out; on Windows a bare pipeline runs the system's
  // programs too.
  wchar_t caller_folder[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, caller_folder);
  ::SetCurrentDirectoryW(platform::SystemDirectory().c_str());
  const double ms = TimeMs([command_line] {
    if (std::FILE* pipe = _popen(command_line, "r")) {
      char chunk[500];
      while (std::fread(chunk, 1, sizeof(chunk), pipe) > 0) {
      }
      _pclose(pipe);
    }
  });
  ::SetCurrentDirectoryW(caller_folder);
  return ms;
}

ConsoleSetting::ConsoleSetting(bool with_console) {
  // Under wine a program started without a terminal holds a console that is
  // no real one: let go of it first.
  ::FreeConsole();
  with_console_ = with_console && ::AllocConsole();
  if (with_console != with_console_) std::printf("  (no console could be had: measured detached)\n");
}

ConsoleSetting::~ConsoleSetting() { ::FreeConsole(); }

}  // namespace starter::bench
