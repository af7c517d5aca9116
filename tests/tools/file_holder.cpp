// Holds a file open as another program would (a virus scanner, an indexer, a
// backup agent), for tests only.
//
//   file_holder.exe PATH SHARING READY_EVENT RELEASE_EVENT
//
// Opens PATH (which must exist) for reading with SHARING, a combination of
// the letters r, w and d (FILE_SHARE_READ, _WRITE, _DELETE; "-" for none),
// sets the named event READY_EVENT, and keeps the file open until the named
// event RELEASE_EVENT is set or a minute has passed. Exit code 0 after a
// hold, 1 for wrong arguments, 2 when the file could not be opened.
#include <windows.h>

#include <cwchar>

#include "platform/handles.h"

namespace {

using starter::platform::UniqueHandle;

constexpr DWORD kLongestHoldMs = 60000;

DWORD SharingOf(const wchar_t* letters) {
  DWORD sharing = 0;
  for (const wchar_t* letter = letters; *letter; ++letter) {
    if (*letter == L'r') sharing |= FILE_SHARE_READ;
    if (*letter == L'w') sharing |= FILE_SHARE_WRITE;
    if (*letter == L'd') sharing |= FILE_SHARE_DELETE;
  }
  return sharing;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return 1;
  UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, argv[3]));
  UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, argv[4]));
  if (!ready || !release) return 1;
  UniqueHandle file(::CreateFileW(argv[1], GENERIC_READ, SharingOf(argv[2]), nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 2;
  ::SetEvent(ready.get());
  ::WaitForSingleObject(release.get(), kLongestHoldMs);
  return 0;
}
