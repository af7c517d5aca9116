#pragma once
// A call that some thread of the process is inside, which another thread may
// wait, for a bounded time, to see return. Counted, so calls that overlap on
// several threads are all waited for.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace starter::platform {

class CallInProgress {
 public:
  // Marks the call as under way for as long as it lives.
  class Scope {
   public:
    explicit Scope(CallInProgress& call) : call_(call) { call_.Add(1); }
    ~Scope() { call_.Add(-1); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    CallInProgress& call_;
  };

  // Waits at most `timeout` for no call to be under way; true once none is,
  // at once when none was.
  bool WaitReturned(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return returned_.wait_for(lock, timeout, [this] { return inside_ == 0; });
  }

 private:
  void Add(int calls) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      inside_ += calls;
    }
    returned_.notify_all();
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable returned_;
  int inside_ = 0;
};

}  // namespace starter::platform
