#pragma once
#include <string>

namespace starter::service {

// Starts the service's Java runtime detached from any console and returns at
// once; whether it comes up is for the readiness polls to find out.
void StartExe(const std::wstring& install_root, int temp_ready);

}  // namespace starter::service
