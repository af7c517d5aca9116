#pragma once
// Lets the stand-in service damage its own command line the way a process may
// after it started, so the tests can show how the starter reads such a line.
#include <string>

namespace standin {

// Rewrites this process's command-line record (the counted wide string in its
// process parameters) as `how` says; false for an unknown word. After a
// rewrite, GetCommandLineW may no longer be used.
//   no_nul      the terminating NUL and the bytes after the text become
//               blanks, so no NUL lies within MaximumLength
//   no_nul_cut  as no_nul, and MaximumLength (with Length) then ends inside
//               "Vantic.jar", whose remaining letters still follow in memory
//   unmapped    Buffer points into reserved memory that is not committed
//               (wine reads such memory as zeros: an empty command line)
//   unreadable  Buffer points past the end of a 32-bit process's address
//               space, where no read by another process succeeds, as one
//               of another account's is refused to a standard user
//   zero_length Length becomes 0; Buffer and MaximumLength stay
bool RewriteOwnCommandLine(const std::wstring& how);

}  // namespace standin
