#include "log/log_file.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>
#include <spdlog/common.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

#include <cstdio>
#include <mutex>
#include <vector>

#include "contract/product_contract.h"
#include "log/log_text.h"
#include "contract/product_version.h"
#include "platform/file_operations.h"
#include "platform/handles.h"
#include "platform/system_facts.h"

namespace starter::log {
namespace {

// spdlog expects a sink to throw spdlog::spdlog_ex, which stops the creation
// of the logger or loses the one line being written.
[[noreturn]] void ThrowError(const char* what, const std::wstring& path, const platform::SystemError& error) {
  throw spdlog::spdlog_ex(std::string(what) + " " + WideToUtf8(path) + ": " + platform::Describe(error));
}

[[noreturn]] void ThrowRefusal(Refusal refusal, const std::wstring& path) {
  throw spdlog::spdlog_ex(RefusalText(refusal, WideToUtf8(path)));
}

// The owner keeps full access; every other account may wait on the mutex
// and release it (SYNCHRONIZE | MUTEX_MODIFY_STATE), and nothing more. No
// integrity label is needed: both rights count as reading and executing in
// a mutex's generic mapping, which a lower integrity level may still use.
constexpr wchar_t kEveryAccountMayWaitAndRelease[] = L"D:(A;;0x001F0001;;;OW)(A;;0x00100001;;;WD)";
constexpr DWORD kWaitAndRelease = SYNCHRONIZE | MUTEX_MODIFY_STATE;

class WinMutexCalls final : public WritersMutexCalls {
 public:
  explicit WinMutexCalls(const std::wstring& log_path) : name_(WritersMutexName(log_path)) {
    // Without the descriptor the mutex gets the creator's default security:
    // still shared by the creator's own account.
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(kEveryAccountMayWaitAndRelease, SDDL_REVISION_1,
                                                           descriptor_.put(), nullptr);
  }

  platform::Status Create(MutexScope scope) override {
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor_.get(), FALSE};
    return Take(STARTER_OPEN(platform::UniqueHandle, CreateMutexW, &attributes, FALSE, Scoped(scope).c_str()));
  }
  platform::Status Open(MutexScope scope) override {
    return Take(STARTER_OPEN(platform::UniqueHandle, OpenMutexW, kWaitAndRelease, FALSE, Scoped(scope).c_str()));
  }

  platform::UniqueHandle mutex;

 private:
  std::wstring Scoped(MutexScope scope) const {
    return (scope == MutexScope::kGlobal ? L"Global\\" : L"Local\\") + name_;
  }
  platform::Status Take(platform::Expected<platform::UniqueHandle> opened) {
    if (!opened.ok()) return opened.error();
    mutex = std::move(*opened);
    return {};
  }

  std::wstring name_;
  platform::UniqueLocalMemory descriptor_;
};

// The mutex for the log file at `log_path`; empty when none could be had,
// and the writers then go without the lock.
platform::UniqueHandle OpenWritersMutex(const std::wstring& log_path) {
  WinMutexCalls calls(log_path);
  ObtainWritersMutex(calls);
  return std::move(calls.mutex);
}

// Holds the writers' lock for its life, when it got it within what
// `patience` allows; otherwise the write goes on without it.
class WritersLock {
 public:
  WritersLock(HANDLE mutex, LockPatience& patience) : mutex_(mutex) {
    if (!mutex_) return;
    const DWORD wait = ::WaitForSingleObject(mutex_, patience.NextWaitMs());
    // An abandoned mutex is owned all the same: its last owner died mid-write.
    held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    patience.Record(wait == WAIT_TIMEOUT);
  }
  WritersLock(const WritersLock&) = delete;
  WritersLock& operator=(const WritersLock&) = delete;
  ~WritersLock() {
    if (held_) ::ReleaseMutex(mutex_);
  }

 private:
  HANDLE mutex_;
  bool held_ = false;
};

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
  if (!folder.ok()) ThrowError("Failed opening folder", path, folder.error());
  platform::Expected<platform::EntryFacts> facts = platform::QueryEntryFacts(folder->get());
  if (!facts.ok()) ThrowError("Failed checking folder", path, facts.error());
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
// renamed or replaced while the log lives.
std::vector<platform::UniqueHandle> HoldLogFolders(const LogLocation& location) {
  CreateFolders(location.system_folder);
  platform::Expected<platform::UniqueHandle> system = platform::HoldFolderByPath(location.system_folder);
  if (!system.ok()) ThrowError("Failed opening folder", location.system_folder, system.error());
  std::vector<platform::UniqueHandle> held;
  held.push_back(std::move(*system));
  for (size_t i = 0; i < location.own_folders.size(); ++i)
    held.push_back(HoldOwnFolder(held.back().get(), location.own_folders[i], location.FolderPath(i + 1)));
  return held;
}

struct OpenLog {
  platform::UniqueHandle file;
  bool can_rename = false;
};

// One open of the file in its held folder. Append-only access makes each
// write land at the end of the file. The right to rename it for the
// rotation is asked too; a reader that does not share deletion (a log
// viewer, say) refuses it, and the file is then opened only to append, and
// stays in place however full.
class LogOpen final : public LogOpenSteps {
 public:
  LogOpen(HANDLE folder, const std::wstring& name) : folder_(folder), name_(name) {}

  platform::Status Open() override {
    constexpr ACCESS_MASK kAppend = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
    platform::Expected<platform::UniqueHandle> file = platform::OpenFileIn(folder_, name_, kAppend | DELETE);
    log.can_rename = file.ok();
    if (!file.ok()) file = platform::OpenFileIn(folder_, name_, kAppend);
    if (!file.ok()) return file.error();
    log.file = std::move(*file);
    return {};
  }
  void Pause(std::chrono::milliseconds duration) override { ::Sleep(static_cast<DWORD>(duration.count())); }

  OpenLog log;

 private:
  HANDLE folder_;
  const std::wstring& name_;
};

class SharedLogFile final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  SharedLogFile(LogLocation location, std::uint64_t max_size)
      : location_(std::move(location)), max_size_(max_size), folders_(HoldLogFolders(location_)),
        writers_mutex_(OpenWritersMutex(location_.FilePath())) {
    // A file that another program holds without write sharing, or under an
    // oplock it has yet to give up, is ours again once it lets go, and every
    // line opens the file anew: only a file that cannot be opened at all, or
    // is refused, fails the creation.
    LogOpen open(folders_.back().get(), location_.file_name);
    const platform::Status opened = open.Open();
    if (opened.ok()) Check(open.log.file.get());
    else if (!platform::MeansNotNow(opened.error()))
      ThrowError("Failed opening file", location_.FilePath(), opened.error());
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    spdlog::memory_buf_t line;
    formatter_->format(msg, line);

    WritersLock lock(writers_mutex_.get(), patience_);
    OpenLog log = OpenChecked();
    RotateIfFull(log, line.size());
    // A write may take part of the line and succeed (found by the fault
    // injector: half a line, and the next line run into it): the rest follows.
    for (std::size_t done = 0; done < line.size();) {
      DWORD written = 0;
      platform::Status wrote = STARTER_CALL(WriteFile, log.file.get(), line.data() + done,
                                            static_cast<DWORD>(line.size() - done), &written, nullptr);
      if (wrote.ok() && written == 0) wrote = platform::SystemError{"WriteFile", ERROR_WRITE_FAULT};
      if (!wrote.ok()) ThrowError("Failed writing to file", location_.FilePath(), wrote.error());
      done += written;
    }
  }
  // Every line is handed to the system as it is written: nothing to flush.
  void flush_() override {}

 private:
  void Check(HANDLE file) const {
    platform::Expected<platform::EntryFacts> facts = platform::QueryEntryFacts(file);
    if (!facts.ok()) ThrowError("Failed checking file", location_.FilePath(), facts.error());
    const Refusal refusal = JudgeLogFile(*facts);
    if (refusal != Refusal::kNone) ThrowRefusal(refusal, location_.FilePath());
  }

  OpenLog OpenChecked() {
    LogOpen open(folders_.back().get(), location_.file_name);
    const platform::Status opened = OpenLogWith(open, open_patience_);
    if (!opened.ok()) ThrowError("Failed opening file", location_.FilePath(), opened.error());
    Check(open.log.file.get());
    return std::move(open.log);
  }

  void RotateIfFull(OpenLog& log, std::uint64_t incoming) {
    LARGE_INTEGER size{};
    if (!log.can_rename || rotation_held_off_ || !::GetFileSizeEx(log.file.get(), &size)) return;
    const auto current = static_cast<std::uint64_t>(size.QuadPart);
    if (current == 0 || current + incoming <= max_size_) return;
    // The checked file itself moves, through its handle and within the held
    // folder; a link in the older file's place is replaced, never followed.
    // Where nothing may be renamed, the full file keeps the line rather than
    // losing it, and the next line tries again. A rename cut short by its
    // bound met an oplock whose holder does not answer, and would likely
    // meet it again: the rest of this run writes on into the full file
    // rather than pay the bound with every line.
    const platform::Status renamed =
        platform::RenameInto(log.file.get(), folders_.back().get(), location_.rotated_name);
    if (!renamed.ok()) {
      rotation_held_off_ = renamed.error().code == platform::kStatusCancelled;
      return;
    }
    log = OpenChecked();
  }

  LogLocation location_;
  std::uint64_t max_size_;
  std::vector<platform::UniqueHandle> folders_;  // system folder first, the file's last
  platform::UniqueHandle writers_mutex_;
  LockPatience patience_;
  OpenPatience open_patience_;
  bool rotation_held_off_ = false;
};

}  // namespace

std::shared_ptr<spdlog::sinks::sink> OpenSharedLogFile(LogLocation location, std::uint64_t max_size) {
  return std::make_shared<SharedLogFile>(std::move(location), max_size);
}

DiagnosticLog OpenStarterLog() {
  try {
    const spdlog::sink_ptr sink =
        OpenSharedLogFile(SplitLogPath(contract::kLogFile, contract::kOwnLogFolders), contract::kMaxLogSize);
    return DiagnosticLog(std::make_shared<spdlog::logger>(contract::kProductVersion, sink));
  } catch (const spdlog::spdlog_ex& error) {
    std::fprintf(stderr, "[*** LOG ERROR ***] %s\n", error.what());
  } catch (const std::exception& error) {
    // Memory refused while the log was made: said with the log's path, as
    // every failure of the log is, without allocating.
    std::fprintf(stderr, "[*** LOG ERROR ***] %s opening %ls\n", error.what(), contract::kLogFile);
  }
  return DiagnosticLog(nullptr);
}

}  // namespace starter::log
