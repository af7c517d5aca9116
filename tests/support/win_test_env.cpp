#include "support/win_test_env.h"

#include "platform/handles.h"

#include <tlhelp32.h>

#include <mutex>
#include <thread>

namespace starter::test {
namespace {

using platform::UniqueHandle;

struct NoCaseLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
  }
};

std::wstring BuildEnvironmentBlock(const Environment& changes) {
  std::map<std::wstring, std::wstring, NoCaseLess> variables;
  wchar_t* strings = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) {
    std::wstring text(entry);
    size_t equals = text.find(L'=', 1);  // "=C:" style entries start with '='
    if (equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  ::FreeEnvironmentStringsW(strings);
  for (const auto& [name, value] : changes) {
    if (value) variables[name] = *value;
    else variables.erase(name);
  }
  std::wstring block;
  for (const auto& [name, value] : variables) block += name + L"=" + value + L'\0';
  block += L'\0';
  return block;
}

}  // namespace

std::wstring TestBinDir() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.rfind(L'\\'));
}

std::wstring ScratchDir() {
  wchar_t folder[MAX_PATH] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder, length > 0 ? length - 1 : 0);  // without its closing backslash
}

std::wstring StarterExe() {
  std::wstring bin = TestBinDir();  // <build>\tests\bin
  std::wstring build = bin.substr(0, bin.rfind(L'\\'));
  build = build.substr(0, build.rfind(L'\\'));
  return build + L"\\zephra_vantic_starter.exe";
}

std::wstring StatusExe() {
  const std::wstring starter = StarterExe();
  return starter.substr(0, starter.rfind(L'\\')) + L"\\zephra_vantic_status.exe";
}

ProcessOutcome RunProcess(const std::wstring& application, const std::wstring& command_line,
                          const ProcessOptions& options) {
  ProcessOutcome outcome;
  // Every child inherits every inheritable handle of this process: when tests
  // start programs from several threads, one child would keep another's
  // output pipe open past that program's end. The write end is inheritable
  // only from its creation until this child holds it.
  static std::mutex inheritance;
  std::unique_lock<std::mutex> only_this_child(inheritance);
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE read_raw = nullptr, write_raw = nullptr;
  if (!::CreatePipe(&read_raw, &write_raw, &inheritable, 0)) return outcome;
  UniqueHandle read_end(read_raw), write_end(write_raw);
  ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
  UniqueHandle null_device(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                       OPEN_EXISTING, 0, nullptr));

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_device.get();
  startup.hStdOutput = write_end.get();
  UniqueHandle error_file;
  if (!options.error_file.empty())
    error_file.reset(::CreateFileW(options.error_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  startup.hStdError = error_file ? error_file.get() : null_device.get();
  PROCESS_INFORMATION info{};
  const ULONGLONG start_ms = ::GetTickCount64();
  std::wstring environment = BuildEnvironmentBlock(options.environment);
  std::wstring writable = command_line;
  // Suspended until the caller's look before its start, or until its output
  // is closed: its first write comes after either.
  const bool suspended = options.before_start || options.output_closed;
  if (!::CreateProcessW(application.empty() ? nullptr : application.c_str(), writable.data(),
                        nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT | (suspended ? CREATE_SUSPENDED : 0), environment.data(),
                        nullptr, &startup, &info))
    return outcome;
  outcome.started = true;
  outcome.process_id = info.dwProcessId;
  UniqueHandle process(info.hProcess), thread(info.hThread);
  write_end.reset();  // the child holds the only write end now
  error_file.reset();
  if (options.output_closed) read_end.reset();
  only_this_child.unlock();
  if (options.before_start) options.before_start(info.dwProcessId);
  if (suspended) ::ResumeThread(thread.get());

  std::thread reader([&] {
    char chunk[4096];
    DWORD got = 0;
    while (read_end && ::ReadFile(read_end.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
      outcome.standard_output.append(chunk, got);
      if (options.on_output) options.on_output(outcome.standard_output);
    }
  });
  if (::WaitForSingleObject(process.get(), options.time_limit_ms) == WAIT_OBJECT_0) {
    outcome.finished = true;
  } else {
    ::TerminateProcess(process.get(), 255);
    ::WaitForSingleObject(process.get(), INFINITE);
  }
  reader.join();
  outcome.seconds = static_cast<double>(::GetTickCount64() - start_ms) / 1000.0;
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  outcome.exit_code = code;
  return outcome;
}

namespace {

// Calls `visit` with the id of every process whose image name is `image_name`.
void ForEachProcessNamed(const std::wstring& image_name, const std::function<void(DWORD)>& visit) {
  platform::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, image_name.c_str()) == 0) visit(entry.th32ProcessID);
  }
}

}  // namespace

void KillProcessesNamed(const std::wstring& image_name) {
  ForEachProcessNamed(image_name, [](DWORD id) {
    UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (!process) return;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10000);
  });
}

int CountProcessesNamed(const std::wstring& image_name) {
  int count = 0;
  ForEachProcessNamed(image_name, [&count](DWORD) { ++count; });
  return count;
}

std::string ReadFileBytes(const std::wstring& path) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  std::string bytes;
  if (!file) return bytes;
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool PathExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::wstring> EnvironmentVariable(const std::wstring& name) {
  const DWORD needed = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring value(needed, L'\0');
  value.resize(::GetEnvironmentVariableW(name.c_str(), value.data(), needed));
  return value;
}

std::optional<std::uint32_t> StoredServerPort(RegistryView view) {
  const REGSAM view_flag = view == RegistryView::k64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  platform::UniqueKey key;
  DWORD value = 0, size = sizeof(value), type = 0;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\dadevuvidi\\Corvel\\Vantic", 0,
                      KEY_READ | view_flag, key.put()) != ERROR_SUCCESS ||
      ::RegQueryValueExW(key.get(), L"ServerPort", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
      type != REG_DWORD)
    return std::nullopt;
  return value;
}

bool StoreServerPort(std::uint32_t value) {
  platform::UniqueKey key;
  const DWORD data = value;
  return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\dadevuvidi\\Corvel\\Vantic", 0, nullptr,
                           REG_OPTION_NON_VOLATILE, KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.put(),
                           nullptr) == ERROR_SUCCESS &&
         ::RegSetValueExW(key.get(), L"ServerPort", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof(data)) == ERROR_SUCCESS;
}

void DeleteVendorKey() {
  platform::UniqueKey software;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                      software.put()) == ERROR_SUCCESS)
    ::RegDeleteTreeW(software.get(), L"dadevuvidi");
}

bool WaitFor(const std::function<bool()>& condition, int limit_ms) {
  const ULONGLONG start = ::GetTickCount64();
  while (::GetTickCount64() - start < static_cast<ULONGLONG>(limit_ms)) {
    if (condition()) return true;
    ::Sleep(50);
  }
  return condition();
}

}  // namespace starter::test
