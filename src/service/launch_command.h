#pragma once
#include <string>

namespace starter::service {

// The command line the service is started with. The runtime is passed to the
// system as the application name only, so the line starts with an empty
// program-name token (one space), then the options, then the jar's full path
// in double quotes. Without a usable TEMP, Java's temporary folders go to
// \Windows\Temp on `system_drive`, the drive Windows is on ("C:" on a
// standard installation).
std::wstring BuildServiceCommandLine(const std::wstring& service_jar, bool temp_ready,
                                     const std::wstring& system_drive);

// The drive ("D:") of the folder Windows is installed in, as the system
// names it; "C:" when the name does not begin with a drive letter.
std::wstring SystemDriveOf(const std::wstring& windows_folder);

}  // namespace starter::service
