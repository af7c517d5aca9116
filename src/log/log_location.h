#pragma once
// Where the diagnostic log lies, and which of its folders and files the
// starter refuses to use. Its folders are of two kinds: the system's
// (C:\Users\Public\Documents), reached by their path, and below them the
// starter's own (corvel, VanticLogs), which any local account may have made
// first and so are never passed through a link. The starter also runs
// elevated: a folder there that is a link (a junction into another folder
// or into the object manager's namespace), or a log file that is a link or
// another file's second name, would make the starter create, write, move or
// overwrite a file of the other account's choosing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_facts.h"

namespace starter::log {

struct LogLocation {
  std::wstring system_folder;
  std::vector<std::wstring> own_folders;  // outermost first
  std::wstring file_name;
  std::wstring rotated_name;  // the one older file, "name.1.ext"

  // The system folder followed by the first `own_count` own folders.
  std::wstring FolderPath(std::size_t own_count) const;
  std::wstring FilePath() const;
  // Where the one older file lies: the log rotates into it.
  std::wstring RotatedFilePath() const;
};

// Splits a full file path whose last `own_folders` folders are the
// starter's own; the rotated name takes ".1" before the extension.
LogLocation SplitLogPath(std::wstring_view path, std::size_t own_folders);

enum class Refusal {
  kNone,
  kLink,          // a reparse point of any kind
  kSeveralNames,  // a file with a hard link besides the log's own name
};

// One of the starter's own folders, opened without following a link and
// held. Windows shows a link on the handle; wine shows a unix symbolic link
// only to the query by name, which is asked once the folder is held, so its
// name cannot be given to another folder in between. `attributes_by_name`
// is 0 when the name could not be asked.
Refusal JudgeOwnFolder(const platform::EntryFacts& held, std::uint32_t attributes_by_name);

// The log file, opened without following a link and held.
Refusal JudgeLogFile(const platform::EntryFacts& held);

// Why the folder or file at `path` (UTF-8) is not used.
std::string RefusalText(Refusal refusal, const std::string& path);

}  // namespace starter::log
