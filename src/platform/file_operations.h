#pragma once
// The starter's operations on files and folders that other accounts can
// open or replace. Files and folders are reached through a folder the
// caller holds open, never by a path: each name is one component, opened
// without following the link it may be (a junction, a symbolic link), so
// nothing between the held folder and the entry can be redirected, and a
// link is seen as itself. Folders are held without delete sharing: while
// held, no one can rename, move or delete them, so their names keep naming
// them. No call here waits without end for another program's oplock: opens
// decline to wait, renames and deletions wait at most kSetInformationBound.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/file_facts.h"
#include "platform/handles.h"
#include "platform/system_error.h"

namespace starter::platform {

// Opens the existing folder `path` by its path, following links (a folder
// of the system's own), and holds it.
Expected<UniqueHandle> HoldFolderByPath(const std::wstring& path);

// Opens the folder `name` in `folder`, creating it when missing, and holds it.
Expected<UniqueHandle> HoldFolderIn(HANDLE folder, std::wstring_view name);

// As HoldFolderIn, for a folder that exists: a missing one is not created.
Expected<UniqueHandle> HoldExistingFolderIn(HANDLE folder, std::wstring_view name);

// Opens the existing file `name` in `folder` with `access`, shared for
// reading, writing and deletion, without waiting for an oplock's break.
Expected<UniqueHandle> OpenExistingFileIn(HANDLE folder, std::wstring_view name, ACCESS_MASK access);

// Opens the file `name` in `folder` with `access`, creating it when missing,
// shared for reading, writing and deletion. A file another program holds an
// opportunistic lock on is not waited for: the open fails at once with
// kStatusOplockBreakInProgress (see MeansNotNow).
Expected<UniqueHandle> OpenFileIn(HANDLE folder, std::wstring_view name, ACCESS_MASK access);

// Attributes, reparse tag and link count of an open file or folder.
Expected<EntryFacts> QueryEntryFacts(HANDLE entry);

// The identity of what stands at `path` itself: a link planted there is not
// followed, and a folder answers as well as a file. Reading it opens no data
// and needs no sharing, so it never stands in the way of a writer.
Expected<FileIdentity> ReadFileIdentity(const std::wstring& path);

// Renames the open `entry` (opened with DELETE access) to `name` in
// `folder`, replacing a file of that name. Bounded as a SetInformationWatch
// says.
Status RenameInto(HANDLE entry, HANDLE folder, std::wstring_view name);

// Marks the open `file` (opened with DELETE access) for deletion once its
// last handle closes, waiting at most `bound` for another program's oplock.
Status DeleteWhenClosed(HANDLE file, std::chrono::milliseconds bound);

// Removes the file at `path` as RemoveFileWith (platform/file_removal.h)
// says. When it answers ok, the name is free.
Status RemoveFile(const std::wstring& path);

// Watches one set-information call (a rename, a change of disposition or of
// attributes) that this thread makes on a file other accounts can open.
// Once `bound` has passed, it cancels the thread's synchronous I/O, again
// and again until the call returns: the cancellation may come before the
// call has reached its wait. Done() ends the watch, and once it has
// returned nothing cancels this thread's I/O any more: it waits for a
// cancellation in progress, and the watching thread is joined at the
// latest when the watch is destroyed.
class SetInformationWatch {
 public:
  explicit SetInformationWatch(std::chrono::milliseconds bound = kSetInformationBound);
  SetInformationWatch(const SetInformationWatch&) = delete;
  SetInformationWatch& operator=(const SetInformationWatch&) = delete;
  ~SetInformationWatch();

  // To be called as soon as the watched call returned, with its answer: the
  // same, or kStatusCancelled when the watch cut it short.
  Status Done(Status answer);

 private:
  void Watch(std::chrono::milliseconds bound);

  UniqueHandle caller_;  // the watched thread, with the right to cancel its I/O
  std::mutex mutex_;
  std::condition_variable returned_;
  bool done_ = false;
  bool cancelled_ = false;
  std::thread watcher_;
};

}  // namespace starter::platform
