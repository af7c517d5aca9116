#include "platform/system_error.h"

#include <fmt/format.h>

#include <cerrno>

namespace starter::platform {

SystemError ErrnoError(const char* call) { return {call, static_cast<std::uint32_t>(errno), ErrorSpace::kErrno}; }

Status OpenStatus(const char* call, std::uint32_t status) {
  constexpr std::uint32_t kSeverityError = 0x80000000;  // warnings and errors: no handle
  if ((status & kSeverityError) == 0 && status != kStatusOplockBreakInProgress) return {};
  return SystemError{call, status, ErrorSpace::kNtStatus};
}

bool MeansNotThere(const SystemError& error) {
  if (error.space == ErrorSpace::kNtStatus)
    return error.code == kStatusObjectNameNotFound || error.code == kStatusObjectPathNotFound;
  return error.space == ErrorSpace::kWin32 && (error.code == kErrorFileNotFound || error.code == kErrorPathNotFound);
}

bool MeansNotNow(const SystemError& error) {
  return error.space == ErrorSpace::kNtStatus &&
         (error.code == kStatusSharingViolation || error.code == kStatusOplockBreakInProgress ||
          error.code == kStatusCancelled);
}

Status WatchedAnswer(Status answer, bool cancel_requested) {
  if (answer.ok() || !cancel_requested) return answer;
  const SystemError& error = answer.error();
  const bool cancelled = (error.space == ErrorSpace::kWin32 && error.code == kErrorOperationAborted) ||
                         (error.space == ErrorSpace::kNtStatus && error.code == kStatusCancelled);
  if (!cancelled) return answer;
  return SystemError{error.call, kStatusCancelled, ErrorSpace::kNtStatus};
}

std::string Describe(const SystemError& error) {
  switch (error.space) {
    case ErrorSpace::kWin32: return fmt::format("{} GLE={}", error.call, error.code);
    case ErrorSpace::kNtStatus: return fmt::format("{} status=0x{:08X}", error.call, error.code);
    case ErrorSpace::kHResult: return fmt::format("{} hr=0x{:08X}", error.call, error.code);
    case ErrorSpace::kErrno: return fmt::format("{} errno={}", error.call, error.code);
  }
  return fmt::format("{} code={}", error.call, error.code);
}

}  // namespace starter::platform
