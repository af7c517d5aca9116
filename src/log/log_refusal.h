#pragma once
// Which of the log's folders and files the starter refuses to use. The log
// lies in a tree any local account may write in, and the starter also runs
// elevated: a folder there that is a link (a junction into another folder
// or into the object manager's namespace), or a log file that is a link or
// another file's second name, would make the starter create, write, move or
// overwrite a file of the other account's choosing.
#include <cstdint>
#include <string>

#include "platform/entry_facts.h"

namespace starter::log {

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
