#include "log/shared_file_sink.h"

#include <spdlog/common.h>

#include "log/utf8.h"
#include "platform/held_entries.h"
#include "platform/system_facts.h"

namespace starter::log {
namespace {

// spdlog expects a sink to throw spdlog::spdlog_ex, which stops the creation
// of the logger or loses the one line being written.
[[noreturn]] void ThrowFailure(const char* what, const std::wstring& path, const platform::SystemError& error) {
  throw spdlog::spdlog_ex(std::string(what) + " " + WideToUtf8(path) + ": " + platform::Describe(error));
}

[[noreturn]] void ThrowRefusal(Refusal refusal, const std::wstring& path) {
  throw spdlog::spdlog_ex(RefusalText(refusal, WideToUtf8(path)));
}

// Creates every missing folder of `folder`, outermost first. These are the
// system's folders, which only administrators can replace by a link.
void CreateFolders(const std::wstring& folder) {
  for (size_t pos = folder.find(L'\\', 3);; pos = folder.find(L'\\', pos + 1)) {
    ::CreateDirectoryW(folder.substr(0, pos).c_str(), nullptr);
    if (pos == std::wstring::npos) return;
  }
}

// The attributes of `path` by its name, 0 when they cannot be had.
std::uint32_t AttributesByName(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
}

platform::UniqueHandle HoldOwnFolder(HANDLE parent, const std::wstring& name, const std::wstring& path) {
  platform::Expected<platform::UniqueHandle> folder = platform::HoldFolderIn(parent, name);
  if (!folder) ThrowFailure("Failed opening folder", path, folder.error());
  platform::Expected<platform::EntryFacts> facts = platform::QueryEntryFacts(folder->get());
  if (!facts) ThrowFailure("Failed checking folder", path, facts.error());
  // Asked only now that the folder is held: its name cannot be given to another folder meanwhile.
  const Refusal refusal = JudgeOwnFolder(*facts, AttributesByName(path));
  if (refusal != Refusal::kNone) ThrowRefusal(refusal, path);
  return std::move(*folder);
}

// Creates the missing system folders by their path and opens the innermost.
// Then opens each of the starter's own folders inside the one before,
// creating it when missing, without following a link; one that is a link is
// refused, and nothing is made or opened beneath it. Returns the folders,
// system folder first, held without delete sharing so that none can be
// renamed or replaced while the logger lives.
std::vector<platform::UniqueHandle> HoldLogFolders(const LogLocation& location) {
  CreateFolders(location.system_folder);
  platform::Expected<platform::UniqueHandle> system = platform::HoldFolderByPath(location.system_folder);
  if (!system) ThrowFailure("Failed opening folder", location.system_folder, system.error());
  std::vector<platform::UniqueHandle> held;
  held.push_back(std::move(*system));
  for (size_t i = 0; i < location.own_folders.size(); ++i)
    held.push_back(HoldOwnFolder(held.back().get(), location.own_folders[i], location.FolderPath(i + 1)));
  return held;
}

}  // namespace

SharedFileSink::SharedFileSink(LogLocation location, std::uint64_t max_size)
    : location_(std::move(location)), max_size_(max_size), folders_(HoldLogFolders(location_)),
      writers_mutex_(OpenWritersMutex(location_.FilePath())) {
  // A file that another program holds without write sharing, or under an
  // oplock it has yet to give up, is ours again once it lets go, and every
  // line opens the file anew: only a file that cannot be opened at all, or
  // is refused, fails the creation.
  platform::Expected<OpenLog> log = Open();
  if (log) Check(log->file.get());
  else if (!platform::MeansNotNow(log.error()))
    ThrowFailure("Failed opening file", location_.FilePath(), log.error());
}

platform::Expected<SharedFileSink::OpenLog> SharedFileSink::Open() const {
  // Append-only access makes each write land at the end of the file. The
  // right to rename it for the rotation is asked too; a reader that does
  // not share deletion (a log viewer, say) refuses it, and the file is then
  // opened only to append, and stays in place however full.
  constexpr ACCESS_MASK kAppend = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
  HANDLE folder = folders_.back().get();
  platform::Expected<platform::UniqueHandle> file = platform::OpenFileIn(folder, location_.file_name, kAppend | DELETE);
  if (file) return OpenLog{std::move(*file), true};
  file = platform::OpenFileIn(folder, location_.file_name, kAppend);
  if (!file) return file.error();
  return OpenLog{std::move(*file), false};
}

void SharedFileSink::Check(HANDLE file) const {
  platform::Expected<platform::EntryFacts> facts = platform::QueryEntryFacts(file);
  if (!facts) ThrowFailure("Failed checking file", location_.FilePath(), facts.error());
  const Refusal refusal = JudgeLogFile(*facts);
  if (refusal != Refusal::kNone) ThrowRefusal(refusal, location_.FilePath());
}

SharedFileSink::OpenLog SharedFileSink::OpenChecked() const {
  platform::Expected<OpenLog> log = Open();
  if (!log) ThrowFailure("Failed opening file", location_.FilePath(), log.error());
  Check(log->file.get());
  return std::move(*log);
}

void SharedFileSink::RotateIfFull(OpenLog& log, std::uint64_t incoming) const {
  LARGE_INTEGER size{};
  if (!log.can_rename || !::GetFileSizeEx(log.file.get(), &size)) return;
  const auto current = static_cast<std::uint64_t>(size.QuadPart);
  if (current == 0 || current + incoming <= max_size_) return;
  // The checked file itself moves, through its handle and within the held
  // folder; a link in the older file's place is replaced, never followed.
  // Where nothing may be renamed, the full file keeps the line rather than
  // losing it, and the next line tries again.
  if (platform::RenameInto(log.file.get(), folders_.back().get(), location_.rotated_name).has_value()) return;
  log = OpenChecked();
}

void SharedFileSink::sink_it_(const spdlog::details::log_msg& msg) {
  spdlog::memory_buf_t line;
  formatter_->format(msg, line);

  WritersLock lock(writers_mutex_.get(), patience_);
  OpenLog log = OpenChecked();
  RotateIfFull(log, line.size());
  DWORD written = 0;
  if (!::WriteFile(log.file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
      written != line.size())
    ThrowFailure("Failed writing to file", location_.FilePath(), platform::LastError("WriteFile"));
}

}  // namespace starter::log
