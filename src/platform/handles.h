#pragma once
// Owners for the kernel and registry handles the starter opens. Each kind
// states its empty value, so a failed open never reaches a close call, and
// every path out of a function releases what it acquired.
#include "platform/win.h"

#include <utility>

namespace starter::platform {

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
  explicit operator bool() const { return handle_ != Kind::Empty(); }
  // For out-parameters of the opening call: releases what is held first.
  Handle* put() {
    reset();
    return &handle_;
  }
  Handle release() { return std::exchange(handle_, Kind::Empty()); }
  // Closing keeps the thread's last error: a failed call is often followed by
  // the release of what it worked on, and the error is read only afterwards.
  void reset(Handle handle = Kind::Empty()) {
    if (handle_ != Kind::Empty()) {
      const DWORD last_error = ::GetLastError();
      Kind::Close(handle_);
      ::SetLastError(last_error);
    }
    handle_ = handle;
  }

 private:
  Handle handle_ = Kind::Empty();
};

// Processes, threads, mutexes: empty is null.
struct KernelHandleKind {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static void Close(Handle handle) { ::CloseHandle(handle); }
};
// Files, Toolhelp snapshots: empty is INVALID_HANDLE_VALUE.
struct FileHandleKind {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { ::CloseHandle(handle); }
};
// Change notifications on a folder: empty is INVALID_HANDLE_VALUE, and they
// have a close call of their own.
struct ChangeNotificationKind {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { ::FindCloseChangeNotification(handle); }
};
// Registry keys: empty is null.
struct RegistryKeyKind {
  using Handle = HKEY;
  static Handle Empty() { return nullptr; }
  static void Close(Handle handle) { ::RegCloseKey(handle); }
};

// Memory the system allocated for the caller with LocalAlloc (a security
// descriptor built from text, for one): empty is null.
struct LocalMemoryKind {
  using Handle = HLOCAL;
  static Handle Empty() { return nullptr; }
  static void Close(Handle handle) { ::LocalFree(handle); }
};

using UniqueHandle = UniqueResource<KernelHandleKind>;
using UniqueFile = UniqueResource<FileHandleKind>;
using UniqueSnapshot = UniqueResource<FileHandleKind>;
using UniqueKey = UniqueResource<RegistryKeyKind>;
using UniqueLocalMemory = UniqueResource<LocalMemoryKind>;
using UniqueChangeNotification = UniqueResource<ChangeNotificationKind>;

}  // namespace starter::platform
