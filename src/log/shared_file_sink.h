#pragma once
// A size-rotating file sink that several starters can share. Sibling
// components often start the starter several times at once, and a plain
// append (seek to the end, then write) from several processes loses and tears
// lines. Every write here runs under a named mutex that all starters share:
// size check, rotation, move to the end and the write itself.
#include <spdlog/sinks/base_sink.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/handles.h"

namespace starter::log {

class SharedFileSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  // Creates the missing folders of `path` and opens the file once to prove it
  // can be written; throws spdlog::spdlog_ex when it cannot.
  SharedFileSink(std::wstring path, std::wstring rotated_path, std::uint64_t max_size);

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override;
  // Every line is handed to the system as it is written: nothing to flush.
  void flush_() override {}

 private:
  platform::UniqueHandle OpenForAppend() const;
  void RotateIfFull(platform::UniqueHandle& file, std::uint64_t incoming) const;

  std::wstring path_;
  std::wstring rotated_path_;
  std::uint64_t max_size_;
  platform::UniqueHandle writers_mutex_;
};

}  // namespace starter::log
