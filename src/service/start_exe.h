#pragma once
#include <string>

namespace starter::service {

// Starts the Java runtime at `java_runtime` on the jar at `service_jar`,
// detached from any console, and returns at once; whether the service comes
// up is for the readiness polls to find out.
void StartExe(const std::wstring& java_runtime, const std::wstring& service_jar, bool temp_ready);

}  // namespace starter::service
