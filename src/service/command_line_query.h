#pragma once
// Asks the system for the command line of another process (information class
// 60, ProcessCommandLineInformation, Windows 8.1 and later). The query needs
// only PROCESS_QUERY_LIMITED_INFORMATION, which the system grants on
// processes of other accounts and of elevated ones, where reading their
// memory is refused. The answer fills the caller's own buffer: a counted
// string of the caller's width whose buffer points at the text behind it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "service/process_memory.h"

namespace starter::service {

// The text of an answer that lies at `block`: its MaximumLength bytes up to
// their first NUL, as the memory read takes them; no result unless those
// bytes lie behind the head and inside the block.
std::optional<std::u16string> ParseCommandLineAnswer(const unsigned char* block, std::size_t size);

// Asks once, and once more with the size the system names when the first
// block was too small. No result when the system refuses, does not know the
// class (older Windows; wine) or gives a malformed answer.
std::optional<std::u16string> QueryCommandLine(CommandLineQuery& query);

}  // namespace starter::service
