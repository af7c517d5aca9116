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

// A value, or the failure that kept the call from giving one.
template <typename T>
class [[nodiscard]] Expected {
 public:
  // Implicit both ways, so a helper returns its value or its failure as it stands.
  // cppcheck-suppress noExplicitConstructor
  Expected(T value) : value_(std::move(value)) {}
  // cppcheck-suppress noExplicitConstructor
  Expected(SystemError error) : error_(error) {}

  explicit operator bool() const { return value_.has_value(); }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  // Meaningful only when there is no value.
  const SystemError& error() const { return error_; }

 private:
  std::optional<T> value_;
  SystemError error_;
};

// What a call that gives nothing but success came to: empty when it succeeded.
using Failure = std::optional<SystemError>;

}  // namespace starter::platform
