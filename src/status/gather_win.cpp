#include <windows.h>

#include <fmt/format.h>

#include "install/install_paths.h"
#include "log/log_file.h"
#include "log/log_location.h"
#include "contract/product_version.h"
#include "log/log_text.h"
#include "platform/handles.h"
#include "platform/file_operations.h"
#include "platform/system_facts.h"
#include "port/tcp_table.h"
#include "port/server_port.h"
#include "service/process_detection.h"
#include "status/observations.h"

namespace starter::status {
namespace {

Moment MomentOf(std::uint64_t ticks) {
  const FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  FILETIME local{};
  SYSTEMTIME parts{};
  Moment moment{ticks, ""};
  // Where the local time cannot be had, the time is shown in UTC rather than
  // not at all.
  if ((::FileTimeToLocalFileTime(&utc, &local) && ::FileTimeToSystemTime(&local, &parts)) ||
      ::FileTimeToSystemTime(&utc, &parts)) {
    moment.local = fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", parts.wYear, parts.wMonth, parts.wDay,
                               parts.wHour, parts.wMinute, parts.wSecond);
  }
  return moment;
}

Moment Now() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return MomentOf(platform::TicksOf(now));
}

// Attributes, size and last write of `path`, without opening it. Only a
// path that surely is not there counts as missing.
FileFacts FactsOf(const std::wstring& path) {
  FileFacts facts;
  facts.path = path;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    const platform::SystemError failed = platform::LastError("GetFileAttributesExW");
    if (!platform::MeansNotThere(failed)) facts.unreadable = failed;
    return facts;
  }
  facts.present = true;
  facts.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  facts.written = MomentOf(platform::TicksOf(data.ftLastWriteTime));
  return facts;
}

StoredPort PortIn(port::RegistryView view) {
  const platform::Expected<std::uint32_t> stored = port::ReadServerPort(view);
  if (!stored.ok()) return {std::nullopt, stored.error()};
  return {*stored, std::nullopt};
}

void GatherServices(Observations& seen) {
  const platform::Status listed = service::ForEachServiceCandidate(
      [&seen](std::uint32_t process_id, service::Identity identity, const std::wstring& command_line) {
        if (identity == service::Identity::kCannotTell) seen.unexamined.push_back(process_id);
        if (identity != service::Identity::kService) return true;
        const std::optional<std::uint64_t> started = service::ProcessStartTime(process_id);
        // One that ended meanwhile is no longer running.
        if (started) seen.services.push_back({process_id, MomentOf(*started), command_line});
        return true;
      });
  if (!listed.ok()) seen.services_unread = listed.error();
}

// The full path of the program a process runs, asked with the least right;
// none when it cannot be opened (ended, or another account's on a system
// that refuses even that) or does not say.
std::optional<std::wstring> ImagePathOf(std::uint32_t process_id) {
  const platform::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return std::nullopt;
  std::wstring path(MAX_PATH, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!::QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) return std::nullopt;
  path.resize(size);
  return path;
}

void GatherOwnerImages(Observations& seen) {
  for (const port::PortListener& listener : seen.listeners) {
    if (!listener.owner_id || seen.owner_images.count(*listener.owner_id) != 0) continue;
    if (std::optional<std::wstring> image = ImagePathOf(*listener.owner_id))
      seen.owner_images.emplace(*listener.owner_id, std::move(*image));
  }
}

void GatherListeners(Observations& seen) {
  const std::optional<std::uint32_t>& port = seen.port_64bit_view.value;
  if (!port || *port == 0 || *port > 0xFFFF) return;
  // IPv6 listeners too, which the report shows although they never count.
  platform::Expected<std::vector<port::PortListener>> listeners =
      port::ListenersOn(static_cast<std::uint16_t>(*port), port::IpFamilies::kIpv4AndIpv6);
  if (!listeners.ok()) {
    seen.listeners_unread = listeners.error();
    return;
  }
  seen.listeners = std::move(*listeners);
  platform::Expected<port::OwnerLooks> looks = service::MachineProcesses().LookAt(port::NamedOwners(seen.listeners));
  // No process list: the owners go unlooked at, and the services unread say why.
  if (looks.ok()) seen.owner_looks = std::move(*looks);
  else seen.services_unread = looks.error();
  GatherOwnerImages(seen);
}

// Arguments reach the log as the bytes of the system's ANSI code page.
std::string AnsiToUtf8(const std::string& bytes) {
  return log::WideToUtf8(platform::AnsiToWide(bytes));
}

// The log's folders, each held inside the one before: none can be renamed
// or replaced while the report reads, so each name keeps naming what was
// judged. Empty, with the failure or the refusal, when the log is not read.
struct LogFolders {
  std::vector<platform::UniqueHandle> held;  // the system folder first
  std::optional<platform::SystemError> failed;
  std::string refused;
};

std::string Refused(const std::wstring& path, const char* why) { return "Refused " + log::WideToUtf8(path) + ": " + why; }

// Judges an own folder as the starter does: why it is refused, empty when
// it is not. Its name is asked only once the handle shows a plain folder:
// the name then leads to that held folder, and asking it follows no link.
platform::Expected<std::string> JudgeHeldFolder(HANDLE folder, const std::wstring& path) {
  const platform::Expected<platform::EntryFacts> facts = platform::QueryEntryFacts(folder);
  if (!facts.ok()) return facts.error();
  log::Refusal refusal = log::JudgeOwnFolder(*facts, 0);
  if (refusal == log::Refusal::kNone) {
    const DWORD by_name = ::GetFileAttributesW(path.c_str());
    refusal = log::JudgeOwnFolder(*facts, by_name == INVALID_FILE_ATTRIBUTES ? 0 : by_name);
  }
  return log::RefusalText(refusal, log::WideToUtf8(path));
}

// Opens the log's folders as the starter opens them, creating none.
LogFolders HoldLogFolders(const log::LogLocation& location) {
  LogFolders folders;
  platform::Expected<platform::UniqueHandle> folder = platform::HoldFolderByPath(location.system_folder);
  for (std::size_t i = 0; folder.ok(); ++i) {
    folders.held.push_back(std::move(*folder));
    if (i == location.own_folders.size()) return folders;
    const std::wstring path = location.FolderPath(i + 1);
    folder = platform::HoldExistingFolderIn(folders.held.back().get(), location.own_folders[i]);
    if (!folder.ok() && folder.error().code == platform::kStatusNotADirectory)
      return {{}, std::nullopt, Refused(path, "it is not a folder, so no starter can log there")};
    if (!folder.ok()) break;
    const platform::Expected<std::string> refused = JudgeHeldFolder(folder->get(), path);
    if (!refused.ok()) return {{}, refused.error(), ""};
    if (!refused->empty()) return {{}, std::nullopt, *refused};
  }
  return {{}, folder.error(), ""};
}

// The whole lines of the last kLogTailBytes of the open file, read while
// starters may append to it or rotate it away. The tail is reached by
// seeking from the end, so a log of any size costs the same.
platform::Expected<std::string> ReadTail(HANDLE file) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) return platform::LastError("GetFileSizeEx");
  const auto file_size = static_cast<std::uint64_t>(size.QuadPart);
  const std::uint64_t start = file_size > kLogTailBytes ? file_size - kLogTailBytes : 0;
  LARGE_INTEGER offset{};
  offset.QuadPart = static_cast<LONGLONG>(start);
  if (!::SetFilePointerEx(file, offset, nullptr, FILE_BEGIN)) return platform::LastError("SetFilePointerEx");
  // What was appended since the size was taken waits for the next report.
  std::string bytes(static_cast<std::size_t>(file_size - start), '\0');
  std::size_t filled = 0;
  DWORD got = 0;
  while (filled < bytes.size() &&
         ::ReadFile(file, bytes.data() + filled, static_cast<DWORD>(bytes.size() - filled), &got, nullptr) && got > 0) {
    filled += got;
  }
  bytes.resize(filled);
  bytes.erase(0, bytes.size() - WholeLinesOfTail(bytes, start == 0).size());
  return bytes;
}

// One of the log's files in the held folder: its tail's whole lines, or why
// it is not read. A file the starter refuses is refused here too, and so is
// anything but a plain file on a disk.
struct LogText {
  platform::Expected<std::string> tail = std::string();
  std::string refused;
};

// One open of a log file to read it. An oplock break in progress or a
// holder without sharing says "try again", as it does to a starter writing
// the file: the open waits for them as the starter's does.
class LogReadOpen final : public log::LogOpenSteps {
 public:
  LogReadOpen(HANDLE folder, const std::wstring& name) : folder_(folder), name_(name) {}

  platform::Status Open() override {
    platform::Expected<platform::UniqueHandle> opened = platform::OpenExistingFileIn(folder_, name_, GENERIC_READ);
    if (!opened.ok()) return opened.error();
    file = std::move(*opened);
    return {};
  }
  void Pause(std::chrono::milliseconds duration) override { ::Sleep(static_cast<DWORD>(duration.count())); }

  platform::UniqueHandle file;

 private:
  HANDLE folder_;
  const std::wstring& name_;
};

LogText ReadLogFile(HANDLE folder, const std::wstring& name, const std::wstring& path) {
  LogReadOpen open(folder, name);
  log::OpenPatience patience;
  if (const platform::Status opened = log::OpenLogWith(open, patience); !opened.ok()) return {opened.error(), ""};
  const platform::Expected<platform::EntryFacts> facts = platform::QueryEntryFacts(open.file.get());
  if (!facts.ok()) return {facts.error(), ""};
  const log::Refusal refusal = log::JudgeLogFile(*facts);
  if (refusal != log::Refusal::kNone) return {std::string(), log::RefusalText(refusal, log::WideToUtf8(path))};
  if (::GetFileType(open.file.get()) != FILE_TYPE_DISK) return {std::string(), Refused(path, "it is not a plain file")};
  return {ReadTail(open.file.get()), ""};
}

void ArgumentsToUtf8(StarterRun& run) {
  for (std::string& argument : run.arguments) argument = AnsiToUtf8(argument);
}

// The last `runs` completed runs of the log's files, read in the held
// folder; none, with the reason in `seen`, when the log is refused or
// cannot be read. The rotated file is read only when the runs asked for
// may lie in it.
std::vector<StarterRun> GatherRuns(Observations& seen, std::size_t runs) {
  const log::LogLocation location = log::SplitLogPath(contract::kLogFile, contract::kOwnLogFolders);
  seen.log_file = location.FilePath();
  const LogFolders folders = HoldLogFolders(location);
  seen.log_refused = folders.refused;
  if (folders.failed && !platform::MeansNotThere(*folders.failed)) seen.log_unread = folders.failed;
  if (folders.held.empty()) return {};
  HANDLE folder = folders.held.back().get();
  const LogText current = ReadLogFile(folder, location.file_name, seen.log_file);
  seen.log_refused = current.refused;
  if (!current.tail.ok() && !platform::MeansNotThere(current.tail.error())) seen.log_unread = current.tail.error();
  if (!seen.log_refused.empty() || seen.log_unread) return {};
  const std::string current_text = current.tail.ok() ? *current.tail : std::string();
  std::string rotated_text;
  if (runs > 1 || NeedsRotatedFile(current_text)) {
    const LogText older = ReadLogFile(folder, location.rotated_name, location.RotatedFilePath());
    seen.log_refused = older.refused;
    if (!seen.log_refused.empty()) return {};
    if (older.tail.ok()) rotated_text = *older.tail;
  }
  std::vector<StarterRun> found = LastCompletedRuns(rotated_text, current_text, runs);
  for (StarterRun& run : found) ArgumentsToUtf8(run);
  return found;
}

void GatherLastRun(Observations& seen) {
  std::vector<StarterRun> last = GatherRuns(seen, 1);
  if (!last.empty()) seen.last_run = std::move(last.back());
}

}  // namespace

Observations Header() {
  Observations seen;
  seen.version = contract::kProductVersion;
  seen.now = Now();
  return seen;
}

Observations Gather(std::atomic<const char*>& looking_at, const platform::Expected<bool>& debug_privilege) {
  Observations seen = Header();
  seen.debug_privilege = debug_privilege;
  looking_at = "the install tree";
  seen.install_root = install::ReadProgramFilesFolder();
  const install::InstallLayout layout = install::MakeInstallLayout(seen.install_root);
  seen.java_runtime = FactsOf(layout.java_runtime);
  seen.service_jar = FactsOf(layout.service_jar);
  looking_at = "the registry";
  seen.port_64bit_view = PortIn(port::RegistryView::k64Bit);
  // On 32-bit Windows both views are the same keys.
  if (platform::RunsUnderWow64()) seen.port_32bit_view = PortIn(port::RegistryView::k32Bit);
  looking_at = "the running processes";
  GatherServices(seen);
  looking_at = "the TCP tables";
  GatherListeners(seen);
  GatherOwnerImages(seen);
  looking_at = "the marker files";
  for (std::size_t i = 0; i < contract::kMarkerCount; ++i) seen.markers[i] = FactsOf(layout.markers[i]);
  looking_at = "the starter's log";
  GatherLastRun(seen);
  return seen;
}

Observations GatherHistory(std::atomic<const char*>& looking_at, std::size_t runs) {
  Observations seen = Header();
  looking_at = "the starter's log";
  seen.history = GatherRuns(seen, runs);
  return seen;
}

}  // namespace starter::status
