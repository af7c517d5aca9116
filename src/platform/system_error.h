#pragma once
// How a failed system call is handed back: the thin helpers over the system
// log nothing and return what failed with the system's own code; the stage
// that called them logs it once. Plain values, so decisions about failures
// are tested anywhere. The system's codes that a decision compares against
// are written here, once, and nowhere else.
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

// `call`, a function of ntdll, answered the NTSTATUS `status`.
inline SystemError NtStatusError(const char* call, std::uint32_t status) {
  return {call, status, ErrorSpace::kNtStatus};
}

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

// --- The system's codes that decisions compare against -----------------------

// Win32 (GetLastError, registry results).
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
// What a Win32 call answers when its synchronous I/O was cancelled.
inline constexpr std::uint32_t kErrorOperationAborted = 995;
// A registry value of another type than the one asked for.
inline constexpr std::uint32_t kErrorDatatypeMismatch = 1629;
// Winsock: a bind the system refuses (the excluded port ranges of Hyper-V,
// WSL2 or Docker, which no listing shows).
inline constexpr std::uint32_t kWsaAccessDenied = 10013;

// NTSTATUS. Success, and the warning an open answers, with a handle, when
// another program holds an opportunistic lock on the file that the open has
// begun to break: given instead of waiting for the holder to let go
// (FILE_COMPLETE_IF_OPLOCKED), which on a local volume has no end while the
// holder keeps the lock.
inline constexpr std::uint32_t kStatusSuccess = 0;
inline constexpr std::uint32_t kStatusOplockBreakInProgress = 0x00000108;
// Three ways of saying that the caller's block was too small.
inline constexpr std::uint32_t kStatusBufferOverflow = 0x80000005;
inline constexpr std::uint32_t kStatusInfoLengthMismatch = 0xC0000004;
inline constexpr std::uint32_t kStatusBufferTooSmall = 0xC0000023;
// Nothing stands at the name, or a folder on the way to it is missing.
inline constexpr std::uint32_t kStatusObjectNameNotFound = 0xC0000034;
inline constexpr std::uint32_t kStatusObjectPathNotFound = 0xC000003A;
// Another program holds the file without sharing what was asked.
inline constexpr std::uint32_t kStatusSharingViolation = 0xC0000043;
// A call this system's ntdll lacks: the answer the starter gives for it.
inline constexpr std::uint32_t kStatusProcedureNotFound = 0xC000007A;
// What stands at the name is a file where a folder was asked for.
inline constexpr std::uint32_t kStatusNotADirectory = 0xC0000103;
// What a rename or deletion answers when its watch cancelled its wait for
// an oplock's break (platform/file_operations.h): the holder has not let
// go yet.
inline constexpr std::uint32_t kStatusCancelled = 0xC0000120;

// Whether a failure says that nothing stands at the name: the file or key,
// or a folder on the way to it, does not exist (ERROR_FILE_NOT_FOUND and
// ERROR_PATH_NOT_FOUND, or their NTSTATUS forms). Every other failure,
// access denied among them, says nothing of whether it is there.
bool MeansNotThere(const SystemError& error);

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

// --- A Win32 call named once, where it is made (Windows) ---------------------
// A call site that names its call twice, once to make it and once in its
// failure, lets the two drift apart. As Rust's `cvt` turns what a call
// answered into its result, and WIL's RETURN_IF_WIN32_BOOL_FALSE names the
// call from its own text, these take the function once:
//
//   const Status piped = STARTER_CALL(CreatePipe, read.put(), write.put(), nullptr, 0);
//   Expected<UniqueHandle> job = STARTER_OPEN(UniqueHandle, CreateJobObjectW, nullptr, nullptr);
//
// Only for calls that answer FALSE, or a handle their owner tells empty, and
// leave the reason in the thread's last error.

// `call` failed, and the thread's last error says why.
SystemError LastError(const char* call);

// What a call that answers FALSE (or null) on failure came to.
Status Win32Answer(bool succeeded, const char* call);

// The owner of what `call` opened, or the call's failure when it holds nothing.
template <typename Owner>
Expected<Owner> Opened(Owner owner, const char* call) {
  if (!owner) return LastError(call);
  return Expected<Owner>(std::move(owner));
}

#define STARTER_CALL(function, ...) \
  ::starter::platform::Win32Answer(static_cast<bool>(::function(__VA_ARGS__)), #function)
#define STARTER_OPEN(Owner, function, ...) ::starter::platform::Opened(Owner(::function(__VA_ARGS__)), #function)

}  // namespace starter::platform
