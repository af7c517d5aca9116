#pragma once
// A size-rotating file sink that several starters can share. Sibling
// components often start the starter several times at once, and a plain
// append (seek to the end, then write) from several processes loses and tears
// lines. Every write here runs under a named mutex that all starters share
// (size check, rotation and the write itself) for as long as another program
// does not keep it. The log's own folders are held for the sink's life, and
// the file is reached only through them, never by its path.
#include <spdlog/sinks/base_sink.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "log/log_location.h"
#include "log/writers_mutex.h"
#include "platform/handles.h"
#include "platform/system_error.h"

namespace starter::log {

// The writers' lock as the sink takes it: the named mutex every starter's
// log writes share, and one hold of it for one write.
//
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

class SharedFileSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  // Reaches the folders of `location` (see HoldLogFolders) and opens the
  // file once to prove it can be written; throws spdlog::spdlog_ex when it
  // cannot, or when a folder or the file is refused.
  SharedFileSink(LogLocation location, std::uint64_t max_size);

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override;
  // Every line is handed to the system as it is written: nothing to flush.
  void flush_() override {}

 private:
  struct OpenLog {
    platform::UniqueHandle file;
    bool can_rename = false;
  };
  platform::Expected<OpenLog> Open() const;
  void Check(HANDLE file) const;
  OpenLog OpenChecked() const;
  void RotateIfFull(OpenLog& log, std::uint64_t incoming) const;

  LogLocation location_;
  std::uint64_t max_size_;
  std::vector<platform::UniqueHandle> folders_;  // system folder first, the file's last
  platform::UniqueHandle writers_mutex_;
  LockPatience patience_;
};

}  // namespace starter::log
