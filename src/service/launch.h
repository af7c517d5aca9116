#pragma once
// Launching the service: whether TEMP is usable, the command line the Java
// runtime gets, and the detached start.
#include <string>

namespace starter::service {

// True when TEMP names an existing directory. The service inherits the
// starter's environment; when this fails, the launch points Java's temporary
// folders at a fixed one instead.
bool IsDefaultTempUsable();

// The folder a TEMP value names, spelled as the run-time library's
// file-status query takes it: without the separators that end it, which
// that query refuses (C:\Temp\ is the folder C:\Temp), except the one that
// makes a root (C:\, \\server\share\).
std::wstring FolderToQuery(std::wstring folder);

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

// Starts the Java runtime at `java_runtime` on the jar at `service_jar`,
// detached from any console, and returns at once; whether the service comes
// up is for the readiness polls to find out.
void LaunchService(const std::wstring& java_runtime, const std::wstring& service_jar, bool temp_ready);

}  // namespace starter::service
