#pragma once
// The lock that every starter's log writes share. The named mutex is sought
// in the global namespace first, so that starters of other sessions share
// it, then in the session's own. In each, it is created (or opened with full
// access); where it exists but another account or an elevated process made
// it, full access is refused, and it is opened with only the rights to wait
// on it and release it. Every account may take it, so any program may also
// keep it: how long a write waits for it is bounded for the run.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace starter::log {

enum class MutexScope { kGlobal, kLocal };
// What one call on the named mutex gave.
enum class MutexCall { kGot, kAccessDenied, kFailed };

// The mutex's name without its namespace, from the log file's path: every
// version of the starter that writes this file must find the same mutex.
std::wstring WritersMutexName(std::wstring_view log_path);

// Calls `create` for each scope in turn, and `open` after a refused create,
// until one gives the mutex; false when none did, and the writers then go
// without the lock.
bool ObtainWritersMutex(const std::function<MutexCall(MutexScope)>& create,
                        const std::function<MutexCall(MutexScope)>& open);

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

}  // namespace starter::log
