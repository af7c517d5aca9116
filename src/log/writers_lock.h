#pragma once
// The writers' lock as the sink takes it: the named mutex every starter's
// log writes share, and one hold of it for one write.
#include <string>

#include "log/writers_mutex.h"
#include "platform/handles.h"

namespace starter::log {

// The mutex for the log file at `log_path`; empty when none could be had,
// and the writers then go without the lock.
platform::UniqueHandle OpenWritersMutex(const std::wstring& log_path);

// Holds the lock for its life, when it got it within what `patience`
// allows; otherwise the write goes on without it.
class WritersLock {
 public:
  WritersLock(HANDLE mutex, LockPatience& patience);
  WritersLock(const WritersLock&) = delete;
  WritersLock& operator=(const WritersLock&) = delete;
  ~WritersLock();

 private:
  HANDLE mutex_;
  bool held_ = false;
};

}  // namespace starter::log
