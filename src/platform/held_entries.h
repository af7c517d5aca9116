#pragma once
// Files and folders reached through a folder the caller holds open, never by
// a path: each name is one component, opened without following the link it
// may be (a junction, a symbolic link), so nothing between the held folder
// and the entry can be redirected, and a link is seen as itself. Folders are
// held without delete sharing: while held, no one can rename, move or delete
// them, so their names keep naming them.
#include <windows.h>

#include <string>
#include <string_view>

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

// Opens the file `name` in `folder` with `access`, creating it when missing,
// shared for reading, writing and deletion. A file another program holds an
// opportunistic lock on is not waited for: the open fails at once with
// kStatusOplockBreakInProgress (see MeansNotNow).
Expected<UniqueHandle> OpenFileIn(HANDLE folder, std::wstring_view name, ACCESS_MASK access);

// As OpenFileIn, for a file that exists: a missing one is not created.
Expected<UniqueHandle> OpenExistingFileIn(HANDLE folder, std::wstring_view name, ACCESS_MASK access);

// Attributes, reparse tag and link count of an open file or folder.
Expected<EntryFacts> QueryEntryFacts(HANDLE entry);

// Renames the open `entry` (opened with DELETE access) to `name` in
// `folder`, replacing a file of that name.
Failure RenameInto(HANDLE entry, HANDLE folder, std::wstring_view name);

}  // namespace starter::platform
