#include "app/hostile_run.h"

#include "platform/handles.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace starter::test {
namespace {

constexpr char kStartLine[] = "info [ START ] 2.3.6.2";
constexpr char kEndLine[] = "info [ END ]\n";

std::string Shortened(const std::string& line) {
  return line.size() <= 120 ? line : line.substr(0, 120) + "... (" + std::to_string(line.size()) + " bytes)";
}

// Lets waiting threads go only when all of them have arrived.
class StartingLine {
 public:
  explicit StartingLine(size_t runners) : waiting_(runners) {}
  void Arrive() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (--waiting_ == 0) all_there_.notify_all();
    all_there_.wait(lock, [&] { return waiting_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable all_there_;
  size_t waiting_;
};

}  // namespace

std::wstring UnixPath(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unix_path = to_unix ? to_unix(path.c_str()) : nullptr;
  if (!unix_path) return {};
  int size = ::MultiByteToWideChar(CP_UTF8, 0, unix_path, -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(std::max(size, 1)), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, unix_path, -1, wide.data(), size);
  wide.resize(wide.size() - 1);
  ::HeapFree(::GetProcessHeap(), 0, unix_path);
  return wide;
}

bool StartUnixCommand(std::wstring command) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
    return false;
  platform::UniqueHandle process(info.hProcess), thread(info.hThread);
  return true;
}

UnixLink::UnixLink(std::wstring link, const std::wstring& target) : link_(std::move(link)) {
  StartUnixCommand(L"/bin/ln -s \"" + UnixPath(target) + L"\" \"" + UnixLinkPath() + L"\"");
  made_ = WaitFor([&] { return (::GetFileAttributesW(link_.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0; });
}

UnixLink::~UnixLink() {
  StartUnixCommand(L"/bin/rm -f \"" + UnixLinkPath() + L"\"");
  EXPECT_TRUE(WaitFor([&] { return ::GetFileAttributesW(link_.c_str()) == INVALID_FILE_ATTRIBUTES; }));
}

// Through the folder's Unix path: the link itself has none until it is made.
std::wstring UnixLink::UnixLinkPath() const {
  const std::filesystem::path link(link_);
  return UnixPath(link.parent_path().wstring()) + L"/" + link.filename().wstring();
}

namespace {

bool StartChattr(const wchar_t* change, const std::wstring& unix_path) {
  return !unix_path.empty() &&
         StartUnixCommand(std::wstring(L"/usr/bin/chattr ") + change + L" \"" + unix_path + L"\"");
}

}  // namespace

::testing::AssertionResult HasInOrder(const std::vector<std::string>& lines,
                                      const std::vector<std::string>& expected) {
  auto at = lines.begin();
  for (const std::string& line : expected) {
    at = std::find(at, lines.end(), line);
    if (at == lines.end()) return ::testing::AssertionFailure() << "not found in order: " << Shortened(line);
    ++at;
  }
  return ::testing::AssertionSuccess();
}

void HostileRun::RunTogether(std::vector<Caller>& callers, const Environment& environment,
                              const std::function<void()>& after_first) {
  StartingLine start(callers.size());
  std::atomic<int> ended{0};
  std::vector<std::thread> threads;
  for (Caller& caller : callers)
    threads.emplace_back([&, &caller = caller] {
      start.Arrive();
      caller.run = RunStarter(caller.arguments, environment);
      if (ended.fetch_add(1) == 0 && after_first) after_first();
    });
  for (std::thread& thread : threads) thread.join();
}

void HostileRun::ExpectCleanEnd(const StarterOutcome& run, const std::string& status_line) {
  EXPECT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.exit_code, 0u);
  EXPECT_EQ(run.process.standard_output, status_line);
}

std::map<std::uint32_t, std::vector<std::string>> HostileRun::ExpectWholeLog() {
  std::map<std::uint32_t, std::vector<std::string>> runs;
  for (const LogLine& line : ReadLog()) {
    EXPECT_TRUE(line.level == "info" || line.level == "warning") << "torn or foreign: " << Shortened(line.message);
    runs[line.process_id].push_back(line.Text());
  }
  for (const auto& [process_id, lines] : runs) {
    SCOPED_TRACE("process " + std::to_string(process_id));
    EXPECT_EQ(lines.front(), kStartLine);
    EXPECT_EQ(lines.back(), kEndLine);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kStartLine), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kEndLine), 1);
  }
  return runs;
}

std::vector<std::string> HostileRun::LinesOf(const StarterOutcome& run) {
  std::vector<std::string> lines;
  for (const LogLine& line : ReadLog())
    if (line.process_id == run.process.process_id) lines.push_back(line.Text());
  return lines;
}

UnwritableFolder::UnwritableFolder(std::wstring folder) : folder_(std::move(folder)) {
  if (StartChattr(L"+i", UnixPath(folder_))) engaged_ = WaitFor([&] { return !AcceptsNewFiles(); }, 10000);
}

UnwritableFolder::~UnwritableFolder() {
  // Also when it seemed not to take: a late change must not outlive the test.
  if (StartChattr(L"-i", UnixPath(folder_))) WaitFor([&] { return AcceptsNewFiles(); }, 10000);
  for (const std::wstring& probe : stranded_probes_) ::DeleteFileW(probe.c_str());
}

bool UnwritableFolder::AcceptsNewFiles() {
  std::wstring probe = folder_ + L"\\write_probe_" + std::to_wstring(++probes_) + L".tmp";
  if (!platform::UniqueHandle(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)))
    return false;
  // The attribute may arrive between creating and deleting.
  if (!::DeleteFileW(probe.c_str())) stranded_probes_.push_back(probe);
  return true;
}

}  // namespace starter::test
