#pragma once
// The failure of the system call just made, as the thin helpers return it.
#include "platform/win.h"

#include "platform/system_error.h"

namespace starter::platform {

// `call` failed, and the thread's last error says why.
inline SystemError LastError(const char* call) { return {call, ::GetLastError(), ErrorSpace::kWin32}; }

}  // namespace starter::platform
