#pragma once
#include <string>

namespace starter::install {

// The Program Files folder as the shell reports it to this 32-bit process
// (on 64-bit Windows the x86 one), without a trailing backslash; empty, with
// the warning "GetSpecialDir Error", when the shell cannot tell.
std::wstring GetSpecialDir();

}  // namespace starter::install
