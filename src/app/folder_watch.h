#pragma once
// The change notification behind the waits for the connected marker.
#include <memory>
#include <string>

#include "app/caller_mode.h"

namespace starter::app {

// Watches the folder of `connected_marker` for files created, renamed or
// written in it (not in its subfolders). Null, after a debug line saying why,
// when there is no folder (no install root) or it cannot be watched.
std::unique_ptr<FolderWatch> WatchMarkerFolder(const std::wstring& connected_marker);

}  // namespace starter::app
