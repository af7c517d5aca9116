#include <windows.h>

#include <fmt/format.h>

#include "install/install_paths.h"
#include "install/markers.h"
#include "log/log_location.h"
#include "log/starter_version.h"
#include "log/utf8.h"
#include "platform/handles.h"
#include "platform/system_facts.h"
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
  if (::FileTimeToLocalFileTime(&utc, &local) && ::FileTimeToSystemTime(&local, &parts)) {
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
    if (!install::MeansAbsent(failed.code)) facts.unreadable = failed;
    return facts;
  }
  facts.present = true;
  facts.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  facts.written = MomentOf(platform::TicksOf(data.ftLastWriteTime));
  return facts;
}

StoredPort PortIn(port::RegistryView view) {
  const platform::Expected<std::uint32_t> stored = port::ReadServerPort(view);
  if (!stored) return {std::nullopt, stored.error()};
  return {*stored, std::nullopt};
}

void GatherServices(Observations& seen) {
  const platform::Failure failed =
      service::ForEachServiceProcess(0, [&seen](std::uint32_t process_id, const std::wstring& command_line) {
        const std::optional<std::uint64_t> started = service::ProcessStartTime(process_id);
        // One that ended meanwhile is no longer running.
        if (started) seen.services.push_back({process_id, MomentOf(*started), command_line});
        return true;
      });
  seen.services_unread = failed;
}

void GatherListeners(Observations& seen) {
  const std::optional<std::uint32_t>& port = seen.port_64bit_view.value;
  if (!port || *port == 0 || *port > 0xFFFF) return;
  platform::Expected<std::vector<port::PortListener>> listeners = port::ListenersOn(static_cast<std::uint16_t>(*port));
  if (!listeners) {
    seen.listeners_unread = listeners.error();
    return;
  }
  seen.listeners = std::move(*listeners);
}

// Arguments reach the log as the bytes of the system's ANSI code page.
std::string AnsiToUtf8(const std::string& bytes) {
  return log::WideToUtf8(platform::AnsiToWide(bytes));
}

// The whole lines of the last kLogTailBytes of the file, read while
// starters may append to it or rotate it away. The tail is reached by
// seeking from the end, so a log of any size costs the same.
platform::Expected<std::string> ReadTail(const std::wstring& path) {
  const platform::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return platform::LastError("CreateFileW");
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return platform::LastError("GetFileSizeEx");
  const auto file_size = static_cast<std::uint64_t>(size.QuadPart);
  const std::uint64_t start = file_size > kLogTailBytes ? file_size - kLogTailBytes : 0;
  LARGE_INTEGER offset{};
  offset.QuadPart = static_cast<LONGLONG>(start);
  if (!::SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN)) return platform::LastError("SetFilePointerEx");
  // What was appended since the size was taken waits for the next report.
  std::string bytes(static_cast<std::size_t>(file_size - start), '\0');
  std::size_t filled = 0;
  DWORD got = 0;
  while (filled < bytes.size() &&
         ::ReadFile(file.get(), bytes.data() + filled, static_cast<DWORD>(bytes.size() - filled), &got, nullptr) &&
         got > 0) {
    filled += got;
  }
  bytes.resize(filled);
  bytes.erase(0, bytes.size() - WholeLinesOfTail(bytes, start == 0).size());
  return bytes;
}

void GatherLastRun(Observations& seen) {
  seen.log_file = contract::kLogFile;
  const platform::Expected<std::string> current = ReadTail(contract::kLogFile);
  if (!current && !install::MeansAbsent(current.error().code)) {
    seen.log_unread = current.error();
    return;
  }
  const log::LogLocation location = log::SplitLogPath(contract::kLogFile, contract::kOwnLogFolders);
  const auto rotated = [&location] {
    platform::Expected<std::string> text =
        ReadTail(location.FolderPath(location.own_folders.size()) + L"\\" + location.rotated_name);
    return text ? *text : std::string();
  };
  seen.last_run = LastCompletedRunOf(current ? *current : std::string(), rotated);
  if (seen.last_run)
    for (std::string& argument : seen.last_run->arguments) argument = AnsiToUtf8(argument);
}

}  // namespace

Observations Gather(std::atomic<const char*>& looking_at) {
  Observations seen;
  seen.version = log::kStarterVersion;
  seen.now = Now();
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
  looking_at = "the marker files";
  for (std::size_t i = 0; i < contract::kMarkerCount; ++i) seen.markers[i] = FactsOf(layout.markers[i]);
  looking_at = "the starter's log";
  GatherLastRun(seen);
  return seen;
}

}  // namespace starter::status
