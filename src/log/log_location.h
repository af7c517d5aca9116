#pragma once
// Where the diagnostic log lies. Its folders are of two kinds: the system's
// (C:\Users\Public\Documents), reached by their path, and below them the
// starter's own (corvel, VanticLogs), which any local account may have made
// first and so are never passed through a link.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace starter::log {

struct LogLocation {
  std::wstring system_folder;
  std::vector<std::wstring> own_folders;  // outermost first
  std::wstring file_name;
  std::wstring rotated_name;  // the one older file, "name.1.ext"

  // The system folder followed by the first `own_count` own folders.
  std::wstring FolderPath(std::size_t own_count) const;
  std::wstring FilePath() const;
};

// Splits a full file path whose last `own_folders` folders are the
// starter's own; the rotated name takes ".1" before the extension.
LogLocation SplitLogPath(std::wstring_view path, std::size_t own_folders);

}  // namespace starter::log
