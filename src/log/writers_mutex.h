#pragma once
// Where the lock that every starter's log writes share comes from. The named
// mutex is sought in the global namespace first, so that starters of other
// sessions share it, then in the session's own. In each, it is created (or
// opened with full access); where it exists but another account or an
// elevated process made it, full access is refused, and it is opened with
// only the rights to wait on it and release it.
#include <functional>

namespace starter::log {

enum class MutexScope { kGlobal, kLocal };
// What one call on the named mutex gave.
enum class MutexCall { kGot, kAccessDenied, kFailed };

// Calls `create` for each scope in turn, and `open` after a refused create,
// until one gives the mutex; false when none did, and the writers then go
// without the lock.
bool ObtainWritersMutex(const std::function<MutexCall(MutexScope)>& create,
                        const std::function<MutexCall(MutexScope)>& open);

}  // namespace starter::log
