#pragma once
// Removes a file that other programs may hold open (a virus scanner, an
// indexer, a backup agent) or that carries the read-only attribute, within
// about two seconds, so that its name is free for a new file at once
// wherever the system allows it. A plain DeleteFileW fails on a read-only
// file and, while another program holds the file, only marks it for deletion:
// the name stays taken until that program lets go (Windows before 10 1903;
// FAT, exFAT, ReFS and network shares to this day). The removal of a path
// on the system is platform::RemoveFile (platform/file_operations.h).
#include <chrono>

#include "platform/file_facts.h"
#include "platform/system_error.h"

namespace starter::platform {

// The steps of one removal, on a handle the steps open and hold until they
// are destroyed. Each answers whether it worked. The steps that rename the
// file or change its disposition wait at most kSetInformationBound for
// another program's oplock, and then answer kStatusCancelled.
class FileRemovalSteps {
 public:
  virtual ~FileRemovalSteps() = default;
  // Opens the name itself for deletion (a link there is not followed), with
  // every kind of sharing, and without waiting for a program's oplock on the
  // file to be broken.
  virtual Status Open() = 0;
  // Deletes with POSIX semantics, ignoring the read-only attribute: the name
  // goes when the handle closes, even while others still hold the file.
  virtual Status DeleteAtOnce() = 0;
  // Takes the read-only attribute away, where it is set.
  virtual Status ClearReadOnly() = 0;
  // Renames the file to a name of its own in the same folder.
  virtual Status MoveAside() = 0;
  // Marks the file for deletion when its last handle closes.
  virtual Status MarkForDeletion() = 0;
  // Time since the removal began, and a wait between tries.
  virtual std::chrono::milliseconds Elapsed() = 0;
  virtual void Pause(std::chrono::milliseconds duration) = 0;
};

// How long another program may keep the file from being removed, and the
// pause between tries.
inline constexpr std::chrono::milliseconds kRemovalLimit{2000};
inline constexpr std::chrono::milliseconds kRemovalRetry{50};
// The longest a removal takes: a step's tries end within the limit, and
// after a step that ended at the limit each later one of the older way
// (clear read-only, move aside, mark for deletion) still makes its one try.
inline constexpr std::chrono::milliseconds kRemovalBound = kRemovalLimit + 3 * kSetInformationBound;

// Runs the steps; whether the file was removed, and what failed if not.
Status RemoveFileWith(FileRemovalSteps& steps);

}  // namespace starter::platform
