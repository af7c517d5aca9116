#pragma once
// Owners for the handles, keys and memory the starter gets from the system.
// Each kind says which values mean "nothing held", so a failed open never
// reaches a close call, and every path out of a function releases what it
// acquired.
#include <windows.h>

#include <utility>

namespace starter::platform {

// `Kind` names the handle type, the value an owner holds when it holds
// nothing, which values count as nothing, and how a held one is closed.
template <typename Kind>
class UniqueResource {
 public:
  using Handle = typename Kind::Handle;

  UniqueResource() = default;
  explicit UniqueResource(Handle handle) : handle_(handle) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return !Kind::IsEmpty(handle_); }
  // For out-parameters of the opening call: releases what is held first.
  Handle* put() {
    reset();
    return &handle_;
  }
  // The caller takes over the handle, and with it the duty to close it.
  [[nodiscard]] Handle release() { return std::exchange(handle_, Kind::kEmpty()); }
  // Closing keeps the thread's last error: a failed call is often followed by
  // the release of what it worked on, and the error is read only afterwards.
  void reset(Handle handle = Kind::kEmpty()) {
    if (!Kind::IsEmpty(handle_)) {
      const DWORD last_error = ::GetLastError();
      Kind::Close(handle_);
      ::SetLastError(last_error);
    }
    handle_ = handle;
  }

 private:
  Handle handle_ = Kind::kEmpty();
};

// A kind from its parts: the handle type, the close call, the test for
// "nothing held" and the value an empty owner holds.
template <typename HandleType, auto kClose, bool (*kIsEmpty)(HandleType), HandleType (*kEmptyValue)()>
struct ResourceKind {
  using Handle = HandleType;
  static constexpr auto kEmpty = kEmptyValue;
  static bool IsEmpty(Handle handle) { return kIsEmpty(handle); }
  static void Close(Handle handle) { kClose(handle); }
};

template <typename Pointer>
Pointer NullValue() {
  return nullptr;
}
template <typename Pointer>
bool IsNull(Pointer value) {
  return value == nullptr;
}
// Opening calls of kernel objects answer a failure with null (OpenProcess,
// CreateMutexW) or with INVALID_HANDLE_VALUE (CreateFileW, snapshots, change
// notifications), and INVALID_HANDLE_VALUE is also the pseudo handle of the
// current process, which is never owned: both mean nothing is held. (HANDLE
// is an opaque pointer: the kind's signature takes it as it is.)
// cppcheck-suppress constParameter
inline bool IsNullOrInvalid(HANDLE handle) { return handle == nullptr || handle == INVALID_HANDLE_VALUE; }

// Processes, threads, files, pipes, mutexes, jobs, snapshots.
using UniqueHandle = UniqueResource<ResourceKind<HANDLE, &::CloseHandle, IsNullOrInvalid, NullValue<HANDLE>>>;
// Change notifications on a folder have a close call of their own.
using UniqueChangeNotification =
    UniqueResource<ResourceKind<HANDLE, &::FindCloseChangeNotification, IsNullOrInvalid, NullValue<HANDLE>>>;
// Registry keys: only null is empty.
using UniqueKey = UniqueResource<ResourceKind<HKEY, &::RegCloseKey, IsNull<HKEY>, NullValue<HKEY>>>;
// Memory the system allocated for the caller with LocalAlloc (a security
// descriptor built from text, for one): only null is empty.
using UniqueLocalMemory = UniqueResource<ResourceKind<HLOCAL, &::LocalFree, IsNull<HLOCAL>, NullValue<HLOCAL>>>;

}  // namespace starter::platform
