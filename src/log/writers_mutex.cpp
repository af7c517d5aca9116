#include "log/writers_mutex.h"

namespace starter::log {

bool ObtainWritersMutex(const std::function<MutexCall(MutexScope)>& create,
                        const std::function<MutexCall(MutexScope)>& open) {
  for (MutexScope scope : {MutexScope::kGlobal, MutexScope::kLocal}) {
    const MutexCall created = create(scope);
    if (created == MutexCall::kGot) return true;
    // Only a refusal says the mutex exists: any other failure leaves nothing to open.
    if (created == MutexCall::kAccessDenied && open(scope) == MutexCall::kGot) return true;
  }
  return false;
}

}  // namespace starter::log
