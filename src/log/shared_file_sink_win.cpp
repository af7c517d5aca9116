#include "log/shared_file_sink.h"

#include <spdlog/common.h>

#include "log/log_folders.h"
#include "log/writers_lock.h"
#include "platform/held_entries.h"
#include "platform/last_error.h"

namespace starter::log {

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
