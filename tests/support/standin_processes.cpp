#include "support/standin_processes.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "support/win_test_env.h"

namespace starter::test {

namespace fs = std::filesystem;

StandInProcesses::StandInProcesses(std::map<std::wstring, std::wstring> environment)
    : environment_(std::move(environment)),
      folder_((fs::temp_directory_path() / (L"starter service " + std::to_wstring(::GetCurrentProcessId())))
                  .wstring()),
      record_(folder_ + L"\\launches.txt") {
  environment_[L"STANDIN_RECORD"] = record_;
  fs::remove_all(folder_);
  fs::create_directories(folder_);
}

StandInProcesses::~StandInProcesses() {
  for (const platform::UniqueHandle& process : processes_) {
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10000);
  }
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

StartedProcess StandInProcesses::Start(const std::wstring& image_name, const std::wstring& arguments) {
  std::wstring program = folder_ + L"\\" + std::to_wstring(processes_.size()) + L"\\" + image_name;
  fs::create_directories(fs::path(program).parent_path());
  fs::copy_file(TestBinDir() + L"\\standin_service.exe", program);

  StartedProcess started;
  started.command_line = L"\"" + program + L"\" " + arguments;
  std::wstring writable = started.command_line;
  // The child copies this process's environment; the settings are there
  // only while it is created.
  for (const auto& [name, value] : environment_) ::SetEnvironmentVariableW(name.c_str(), value.c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  BOOL created = ::CreateProcessW(program.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &info);
  for (const auto& [name, value] : environment_) ::SetEnvironmentVariableW(name.c_str(), nullptr);
  if (!created) return started;
  ::CloseHandle(info.hThread);
  processes_.emplace_back(info.hProcess);
  started.handle = info.hProcess;

  // Each stand-in appends one line as its first act.
  size_t expected_lines = processes_.size();
  auto recorded = [&] {
    std::string lines = ReadFileBytes(record_);
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), '\n')) >= expected_lines;
  };
  if (WaitFor(recorded)) started.process_id = info.dwProcessId;
  return started;
}

}  // namespace starter::test
