#pragma once
// The IP helper library, reached at run time. It is no known system DLL, so
// an import of it would be looked for beside the program first, where any
// local user may have put a file of that name; it is loaded by its full path
// in the system folder instead, once, on first use.
#include "platform/win.h"

#include <iphlpapi.h>

namespace starter::platform {

// GetExtendedTcpTable of the system's IP helper, with its arguments and
// results; ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND when the library or
// the function cannot be had.
DWORD GetExtendedTcpTableOfSystem(void* table, DWORD* size, BOOL sorted, ULONG family, TCP_TABLE_CLASS table_class);

}  // namespace starter::platform
