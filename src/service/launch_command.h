#pragma once
#include <string>

namespace starter::service {

// The command line the service is started with. The runtime is passed to the
// system as the application name only, so the line starts with an empty
// program-name token (one space), then the options, then the jar's full path
// in double quotes. Without a usable TEMP, Java's temporary folders go to
// C:\Windows\Temp.
std::wstring BuildServiceCommandLine(const std::wstring& service_jar, bool temp_ready);

}  // namespace starter::service
