#pragma once
// The debug privilege of this process's token. OpenProcess checks the
// access asked for against the process's security descriptor unless the
// caller has enabled SeDebugPrivilege: holding it is not enough. An
// elevated administrator's token holds it disabled; a standard user's
// token does not hold it at all.
#include "platform/system_error.h"

namespace starter::platform {

// Enables SeDebugPrivilege in this process's token when the token holds
// it: true once it is enabled, false when the token does not hold it (a
// standard user's run), what failed when a call did. For the status
// program, whose opens of other processes ask for reading only; the
// starter never enables it.
Expected<bool> EnableDebugPrivilege();

}  // namespace starter::platform
