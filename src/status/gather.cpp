#include "status/observations.h"

#include <exception>

namespace starter::status {

Observations GatherGuarded(const std::function<Observations()>& gather, const std::atomic<const char*>& looking_at) {
  std::string failure;
  try {
    return gather();
  } catch (const std::exception& error) {
    failure = error.what();
  } catch (...) {
    failure = "an exception of unknown type";
  }
  Observations failed;
  failed.failed = std::string(looking_at.load()) + ": " + failure;
  return failed;
}

}  // namespace starter::status
