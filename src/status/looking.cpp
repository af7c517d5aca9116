#include "status/looking.h"

#include <memory>

#include "status/report.h"

namespace starter::status {

Looked LookWithin(std::function<Observations()> look, const RunOnWorker& run, std::chrono::milliseconds limit,
                  const std::atomic<const char*>& looking_at, const Observations& header) {
  // Owned by the worker as much as by this call: a worker that does not end
  // outlives it. Read only once the worker ended, which the wait for it orders.
  auto seen = std::make_shared<Observations>();
  bool ended = false;
  try {
    ended = run(
        [seen, look = std::move(look), &looking_at, header] {
          try {
            *seen = look();
          } catch (...) {
            try {
              *seen = FailedLooking(header, looking_at.load());
            } catch (...) {
              // Not even the failure could be kept: the empty observations
              // judge as unknown all the same.
            }
          }
        },
        limit);
  } catch (...) {
    return {FailedLooking(header, "the machine: its worker thread did not start"), true};
  }
  if (ended) return {*seen, true};
  Observations partial = header;
  partial.unanswered = looking_at.load();
  return {partial, false};
}

}  // namespace starter::status
