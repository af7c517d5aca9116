#pragma once
// The starter's log file, which several starters share and rotate by size.
// Sibling components often start the starter several times at once, and a
// plain append (seek to the end, then write) from several processes loses
// and tears lines. Every write runs under the writers' lock, a named mutex
// that all starters share (size check, rotation and the write itself), for
// as long as another program does not keep it. The log's own folders are
// held for the log's life, and the file is reached only through them, never
// by its path (log/log_location.h says which folders and files are refused).
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "contract/product_contract.h"
#include "log/diag_log.h"
#include "log/log_location.h"
#include "platform/system_error.h"

namespace spdlog::sinks { class sink; }

namespace starter::log {

// The starter's log on its fixed file (contract::kLogFile), the diagnostic
// log for the owner's life. Without its file (one that cannot be opened, or
// a folder or file that is refused, or memory refused while it is made) the
// starter still owes its caller the status line and exit code 0: it says why
// on standard error and runs on with no log.
DiagnosticLog OpenStarterLog();

// A sink that appends each line to the file of `location`, rotated into its
// one older file before a line would take it past `max_size`. Reaches the
// folders and opens the file once to prove it can be written; throws
// spdlog::spdlog_ex when it cannot, or when a folder or the file is refused.
std::shared_ptr<spdlog::sinks::sink> OpenSharedLogFile(LogLocation location, std::uint64_t max_size);

// The writers' lock. The named mutex is sought in the global namespace
// first, so that starters of other sessions share it, then in the session's
// own. In each, it is created (or opened with full access); where it exists
// but another account or an elevated process made it, full access is
// refused, and it is opened with only the rights to wait on it and release
// it. Every account may take it, so any program may also keep it: how long
// a write waits for it is bounded for the run (LockPatience).
enum class MutexScope { kGlobal, kLocal };

// The mutex's name without its namespace, from the log file's path: every
// version of the starter that writes this file must find the same mutex.
std::wstring WritersMutexName(std::wstring_view log_path);

// The calls on the named mutex, in one scope each: whether they gave it,
// and what failed when not.
class WritersMutexCalls {
 public:
  virtual ~WritersMutexCalls() = default;
  virtual platform::Status Create(MutexScope scope) = 0;
  virtual platform::Status Open(MutexScope scope) = 0;
};

// Creates the mutex in each scope in turn, and opens it after a refused
// create, until one gives it; false when none did, and the writers then go
// without the lock.
bool ObtainWritersMutex(WritersMutexCalls& calls);

// How long the next write waits for the lock. The first waits are short;
// once one has run out, another program is likely to keep the lock, and the
// rest of the run takes it only when it is free at once and otherwise writes
// without it (appends cannot overwrite each other). A lock held forever so
// costs a run one short wait.
class LockPatience {
 public:
  static constexpr std::uint32_t kFirstWaitMs = 500;

  std::uint32_t NextWaitMs() const { return ran_out_ ? 0 : kFirstWaitMs; }
  // After each wait: whether it ran out without the lock.
  void Record(bool ran_out) { ran_out_ = ran_out_ || ran_out; }

 private:
  bool ran_out_ = false;
};

// The open of the file for one line. An open that meets another program's
// oplock answers at once that its break is in progress
// (platform::kStatusOplockBreakInProgress), and one that meets a holder
// without write sharing, which may close the file as its oplock breaks,
// answers a sharing violation. The search indexer takes such oplocks on
// files under the public documents folder and gives them up once they
// break, though at its background priority that may take a few hundred
// milliseconds: the open is tried kLogOpenTries times in all, kLogOpenRetry
// apart, before the line is lost. A line lost at the start or the end of a
// run would make the status report name the wrong run. As with the lock, a
// holder that outlasts one line's tries is likely to keep the file: the rest
// of the run tries each open once (OpenPatience).
inline constexpr int kLogOpenTries = 16;
inline constexpr std::chrono::milliseconds kLogOpenRetry{25};
// The longest one line's open waits between its tries.
inline constexpr std::chrono::milliseconds kLogOpenPatience = (kLogOpenTries - 1) * kLogOpenRetry;

class OpenPatience {
 public:
  int NextTries() const { return ran_out_ ? 1 : kLogOpenTries; }
  // After each open: whether its tries ran out on a holder.
  void Record(bool ran_out) { ran_out_ = ran_out_ || ran_out; }

 private:
  bool ran_out_ = false;
};

// The log's share of the start's bound: the first wait for the writers'
// lock and one line's retries of its open, with room for the opens.
static_assert(std::chrono::milliseconds(LockPatience::kFirstWaitMs) + kLogOpenPatience <
                  contract::BoundOf(contract::Stage::kStart).bound,
              "the log's first line keeps within the start's bound");

class LogOpenSteps {
 public:
  virtual ~LogOpenSteps() = default;
  virtual platform::Status Open() = 0;
  virtual void Pause(std::chrono::milliseconds duration) = 0;
};

// Whether the file was opened, and what the last try answered if not.
platform::Status OpenLogWith(LogOpenSteps& steps, OpenPatience& patience);

}  // namespace starter::log
