#pragma once
// How a failed system call is handed back: the thin helpers over the system
// log nothing and return what failed with the system's own code; the stage
// that called them logs it once. Plain values, so decisions about failures
// are tested anywhere.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace starter::platform {

// Where a code comes from, which says how it is written.
enum class ErrorSpace {
  kWin32,     // GetLastError, registry results, Winsock errors: decimal
  kNtStatus,  // ntdll: hexadecimal
  kHResult,   // COM and the shell: hexadecimal
  kErrno,     // the C runtime's errno: decimal
};

struct SystemError {
  const char* call = "";  // the function that failed
  std::uint32_t code = 0;
  ErrorSpace space = ErrorSpace::kWin32;
};

// `call`, a function of the C runtime, failed, and errno says why.
SystemError ErrnoError(const char* call);

// The line a stage logs for a failure that has no line of its own:
// "CreatePipe GLE=5", "NtQueryInformationProcess status=0xC0000022",
// "SHGetMalloc hr=0x80004005", "_wstat64 errno=2".
std::string Describe(const SystemError& error);

// A value, or the failure that kept the call from giving one. Read as
// `if (!listed.ok())`: the call failed, and error() says how.
template <typename T>
class [[nodiscard]] Expected {
 public:
  // Implicit both ways, so a helper returns its value or its failure as it stands.
  // cppcheck-suppress noExplicitConstructor
  Expected(T value) : value_(std::move(value)) {}
  // cppcheck-suppress noExplicitConstructor
  Expected(SystemError error) : error_(error) {}

  bool ok() const { return value_.has_value(); }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  // Meaningful only when !ok().
  const SystemError& error() const { return error_; }

 private:
  std::optional<T> value_;
  SystemError error_;
};

// What a call that gives nothing but success came to. A default Status is
// a success: `return {};`. Read as `if (!removed.ok())`: it failed.
class [[nodiscard]] Status {
 public:
  Status() = default;
  // cppcheck-suppress noExplicitConstructor
  Status(SystemError error) : error_(error), failed_(true) {}

  bool ok() const { return !failed_; }
  // Meaningful only when !ok().
  const SystemError& error() const { return error_; }

 private:
  SystemError error_;
  bool failed_ = false;
};

// What an open of a file answers (NTSTATUS) when another program has the
// file for the moment: it holds the file without sharing what was asked, or
// it holds an opportunistic lock on it that the open has begun to break.
// The latter is a success with a handle, given instead of waiting for the
// holder to let go (FILE_COMPLETE_IF_OPLOCKED): on a local volume that wait
// has no end while the holder keeps the lock.
inline constexpr std::uint32_t kStatusSharingViolation = 0xC0000043;
inline constexpr std::uint32_t kStatusOplockBreakInProgress = 0x00000108;
// What a rename or deletion answers when its watch cancelled its wait for
// an oplock's break (platform/file_operations.h): the holder has not let
// go yet.
inline constexpr std::uint32_t kStatusCancelled = 0xC0000120;
// What a Win32 call answers when its synchronous I/O was cancelled.
inline constexpr std::uint32_t kErrorOperationAborted = 995;

// What a call that its watch may have cancelled comes to. Only the answers
// of a cancellation (ERROR_OPERATION_ABORTED, STATUS_CANCELLED) after the
// watch asked for one read as kStatusCancelled, "not now". A call marked for
// cancellation may still complete with its own answer (a filter that waits
// inside its own callback is not cancelled, a mapped image answers
// STATUS_CANNOT_DELETE, an open replace target access denied): such a
// refusal stays what it is, so that the caller can try another way.
Status WatchedAnswer(Status answer, bool cancel_requested);

// What an open of a file that answered `status` comes to: ok when its
// handle is to be used, else the failure. An oplock break in progress is
// one: the holder has yet to let go, and the handle would wait for it.
Status OpenStatus(const char* call, std::uint32_t status);

// Whether a failed open, rename or deletion says only "not now": another
// program has the file for the moment, and a later try may succeed.
bool MeansNotNow(const SystemError& error);

}  // namespace starter::platform
