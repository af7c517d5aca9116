#include "support/starter_run.h"

#include <shlobj.h>

#include <cstdio>
#include <filesystem>
#include <regex>

namespace starter::test {
namespace fs = std::filesystem;
namespace {

std::wstring Widen(const std::string& text) {
  int size = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

void RemoveQuietly(const std::wstring& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

}  // namespace

std::vector<std::string> Concat(std::vector<std::string> head, const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

double LocalMs(const SYSTEMTIME& time) {
  FILETIME file{};
  ::SystemTimeToFileTime(&time, &file);
  return static_cast<double>((static_cast<std::uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime) / 1e4;
}

std::optional<double> LoggedAt(const std::string& message) {
  const std::string text = ReadFileBytes(StarterTest::LogFile());
  const std::size_t found = text.find("] [info] " + message + "\r\n");
  if (found == std::string::npos) return std::nullopt;
  SYSTEMTIME time{};
  std::sscanf(text.c_str() + text.rfind('[', found), "[%hu-%hu-%hu %hu:%hu:%hu.%hu]", &time.wYear, &time.wMonth,
              &time.wDay, &time.wHour, &time.wMinute, &time.wSecond, &time.wMilliseconds);
  return LocalMs(time);
}

std::wstring StarterTest::ProgramFiles() {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, path);
  return path;
}
std::wstring StarterTest::VanticDir() { return ProgramFiles() + L"\\norvik\\brandle\\Corvel\\Vantic"; }
std::wstring StarterTest::JavaExe() {
  return ProgramFiles() + L"\\norvik\\brandle\\Corvel\\Tidewell\\jre\\bin\\java.exe";
}
std::wstring StarterTest::LogFile() {
  return L"C:\\Users\\Public\\Documents\\corvel\\VanticLogs\\zephra_vantic_starter.log";
}

void StarterTest::SetUp() {
  KillProcessesNamed(L"java.exe");
  DeleteVendorKey();
  RemoveQuietly(ProgramFiles() + L"\\norvik");
  RemoveQuietly(L"C:\\Users\\Public\\Documents\\corvel");
  fs::create_directories(VanticDir());
  fs::create_directories(fs::path(JavaExe()).parent_path());
  fs::copy_file(TestBinDir() + L"\\standin_service.exe", JavaExe());
  ASSERT_TRUE(WriteFileBytes(VanticDir() + L"\\Vantic.jar", "PK stand-in jar"));
  record_file_ = ScratchDir() + L"\\launches_" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
  ::DeleteFileW(record_file_.c_str());
}

void StarterTest::TearDown() {
  KillProcessesNamed(L"java.exe");
  ::DeleteFileW(record_file_.c_str());
}

StarterOutcome StarterTest::RunStarter(const std::vector<std::string>& arguments,
                                      const Environment& environment) {
  std::wstring command = L"\"" + starter_exe_ + L"\"";
  for (const auto& argument : arguments) {
    std::wstring wide = Widen(argument);
    command += wide.find(L' ') == std::wstring::npos ? L" " + wide : L" \"" + wide + L"\"";
  }
  ProcessOptions options;
  const std::wstring path = EnvironmentVariable(L"PATH").value_or(L"");
  options.environment = {{L"PATH", TestBinDir() + L"\\path_tools;" + path},
                         {L"STANDIN_RECORD", record_file_}};
  for (const auto& [name, value] : environment) options.environment[name] = value;
  options.error_file = error_file_;
  options.before_start = before_start_;
  options.on_output = on_output_;
  options.output_closed = output_closed_;
  // Above the longest run the starter's limit allows, with room for a busy machine.
  options.time_limit_ms = 90000;

  StarterOutcome outcome;
  outcome.process = RunProcess(starter_exe_, command, options);
  for (const LogLine& line : ReadLog())
    if (line.process_id == outcome.process.process_id || line.level.empty())
      outcome.log.push_back(line.Text());
  return outcome;
}

std::vector<LogLine> StarterTest::ReadLog() {
  // Only the head of a line is matched: a pattern over the whole message
  // recurses once per character and takes minutes (or the stack) on a line
  // of tens of thousands of bytes.
  static const std::regex head(R"(\[(\d+)\] \[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[([a-z]+)\] )");
  std::vector<LogLine> lines;
  std::string text = ReadFileBytes(LogFile());
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string raw = text.substr(start, end - start);
    start = end + 2;
    LogLine line;
    std::smatch match;
    if (std::regex_search(raw, match, head, std::regex_constants::match_continuous)) {
      line.process_id = static_cast<std::uint32_t>(std::stoul(match[1]));
      line.level = match[2];
      line.message = match.suffix();
    } else {
      line.message = raw;  // kept, so a malformed line fails the comparison
      line.level = raw.empty() ? "" : "?";
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> StarterTest::RecordedCommandLines() const {
  std::vector<std::string> lines;
  std::string text = ReadFileBytes(record_file_);
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::string StarterTest::Utf8(const std::wstring& text) { return fs::path(text).u8string(); }

}  // namespace starter::test
