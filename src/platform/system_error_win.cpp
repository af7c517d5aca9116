#include "platform/system_error.h"

#include <winsock2.h>
#include <windows.h>

namespace starter::platform {

// The Win32 codes, as the system's headers define them.
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND && kErrorPathNotFound == ERROR_PATH_NOT_FOUND &&
              kErrorAccessDenied == ERROR_ACCESS_DENIED && kErrorOperationAborted == ERROR_OPERATION_ABORTED &&
              kErrorDatatypeMismatch == ERROR_DATATYPE_MISMATCH && kWsaAccessDenied == WSAEACCES);

SystemError LastError(const char* call) { return {call, ::GetLastError(), ErrorSpace::kWin32}; }

Status Win32Answer(bool succeeded, const char* call) {
  if (succeeded) return {};
  return LastError(call);
}

}  // namespace starter::platform
