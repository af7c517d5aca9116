#include "platform/file_removal.h"

namespace starter::platform {
namespace {

// A program that holds the file without sharing its deletion, or under an
// oplock the open began to break, often lets go within moments (a scanner
// reading it once); one that keeps it is waited for no longer than the limit.
Failure OpenForDeletion(FileRemovalSteps& steps) {
  for (;;) {
    Failure failed = steps.Open();
    if (!failed || !MeansNotNow(*failed) ||
        steps.Elapsed() + kOpenForDeletionRetry > kOpenForDeletionLimit)
      return failed;
    steps.Pause(kOpenForDeletionRetry);
  }
}

}  // namespace

Failure RemoveFileWith(FileRemovalSteps& steps) {
  if (Failure failed = OpenForDeletion(steps)) return failed;
  // Windows 10 1809 and later, on NTFS: one step frees the name, whoever
  // else holds the file and whatever its attributes.
  if (!steps.DeleteAtOnce()) return std::nullopt;
  // Refused. As unsupported: ERROR_INVALID_PARAMETER before Windows 10 1809
  // (an unknown class or flag) and on FAT and exFAT, ERROR_NOT_SUPPORTED on
  // ReFS, ERROR_INVALID_FUNCTION from some network redirectors and filter
  // drivers; or as ERROR_ACCESS_DENIED, for a read-only file where the flag
  // that ignores the attribute is not known, or a file mapped into memory.
  // The older way is worth a try after any refusal: each of its steps fails
  // cleanly on its own. The attribute goes first, since a read-only file
  // cannot be marked for deletion; the rename frees the name at once, so a
  // file still held by another program waits for its deletion under a name
  // no one looks for.
  if (Failure failed = steps.ClearReadOnly()) return failed;
  if (Failure failed = steps.MoveAside()) return failed;
  return steps.MarkForDeletion();
}

}  // namespace starter::platform
