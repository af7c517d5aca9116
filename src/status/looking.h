#pragma once
// The status program's looking, on a worker thread of its own that is
// waited for at most a limit: a check that hangs (a hung driver, a frozen
// file server) must not hang the report, and a worker that cannot be
// started must still end in a verdict.
#include <atomic>
#include <chrono>
#include <functional>

#include "status/observations.h"

namespace starter::status {

// Runs `work` on a thread of its own and waits at most `limit` for it:
// true once it ended, false when it is still at it. Throws when the system
// will not make the thread.
using RunOnWorker = std::function<bool(std::function<void()> work, std::chrono::milliseconds limit)>;

struct Looked {
  Observations seen;
  // False when the looking did not end within the limit: its worker is
  // still at it, inside a call that may never return.
  bool ended = true;
};

// Looks (`look`, which keeps in `looking_at` what it reads) on a worker that
// `run` starts, and waits at most `limit` for it. Whatever escapes the
// looking or the worker's start becomes an unknown verdict that names it
// (FailedLooking), never a crash whose exit code would read as a verdict; a
// looking that does not end leaves `header` with what it was reading.
// `looking_at` must outlive a worker that does not end.
Looked LookWithin(std::function<Observations()> look, const RunOnWorker& run, std::chrono::milliseconds limit,
                  const std::atomic<const char*>& looking_at, const Observations& header);

}  // namespace starter::status
