#pragma once
#include <atomic>
#include <functional>

#include "status/observations.h"

namespace starter::status {

// Looks at the machine as the starter would, reading only: the install
// tree, ServerPort, the TCP tables, the running processes, the markers and
// the starter's log. Opens no file for writing, writes no registry value and
// starts nothing. `looking_at` names what is being read at each moment, for
// a report that must end before a check that does not answer.
Observations Gather(std::atomic<const char*>& looking_at);

// What `gather` saw; or, when anything escapes it (memory running out on a
// hostile log, a failure nobody foresaw), observations that say what was
// being read then and what failed, so the report still answers.
Observations GatherGuarded(const std::function<Observations()>& gather, const std::atomic<const char*>& looking_at);

}  // namespace starter::status
