#include "platform/file_removal.h"

#include "platform/file_facts.h"

namespace starter::platform {
namespace {

using Step = Status (FileRemovalSteps::*)();

// A program that holds the file without sharing its deletion, or under an
// oplock it has yet to give up, often lets go within moments (a scanner
// reading it once); one that keeps it is waited for no longer than the
// limit. A try may itself take up to kSetInformationBound, so another is
// begun only while it can end within the limit.
Status TryUntilLimit(FileRemovalSteps& steps, Step step) {
  for (;;) {
    Status tried = (steps.*step)();
    if (tried.ok() || !MeansNotNow(tried.error()) ||
        steps.Elapsed() + kRemovalRetry + kSetInformationBound > kRemovalLimit)
      return tried;
    steps.Pause(kRemovalRetry);
  }
}

}  // namespace

Status RemoveFileWith(FileRemovalSteps& steps) {
  if (Status opened = TryUntilLimit(steps, &FileRemovalSteps::Open); !opened.ok()) return opened;
  // Windows 10 1809 and later, on NTFS: one step frees the name, whoever
  // else holds the file and whatever its attributes.
  Status deleted = TryUntilLimit(steps, &FileRemovalSteps::DeleteAtOnce);
  if (deleted.ok() || MeansNotNow(deleted.error())) return deleted;
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
  for (const Step step : {&FileRemovalSteps::ClearReadOnly, &FileRemovalSteps::MoveAside})
    if (Status done = TryUntilLimit(steps, step); !done.ok()) return done;
  return TryUntilLimit(steps, &FileRemovalSteps::MarkForDeletion);
}

}  // namespace starter::platform
