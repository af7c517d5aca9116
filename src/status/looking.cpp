#include "status/looking.h"

#include <future>
#include <memory>

#include "status/report.h"

namespace starter::status {

Looked LookWithin(std::function<Observations()> look, const StartWorker& start, std::chrono::milliseconds limit,
                  const std::atomic<const char*>& looking_at, const Observations& header) {
  // Owned by the worker as much as by this call: a worker that does not end
  // outlives it.
  auto task = std::make_shared<std::packaged_task<Observations()>>([look = std::move(look), &looking_at, header] {
    try {
      return look();
    } catch (...) {
      return FailedLooking(header, looking_at.load());
    }
  });
  std::future<Observations> seen = task->get_future();
  try {
    start([task] { (*task)(); });
  } catch (...) {
    return {FailedLooking(header, "the machine: its worker thread did not start"), true};
  }
  if (seen.wait_for(limit) == std::future_status::ready) return {seen.get(), true};
  Observations partial = header;
  partial.unanswered = looking_at.load();
  return {partial, false};
}

}  // namespace starter::status
