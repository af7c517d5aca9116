#pragma once
// The marker files shared with the Vantic service, and the one existence
// test that every decision about them (and the readiness polls) rests on.
#include <string>

namespace starter::install {

// False only when the path, or a folder on it, does not exist. Any other
// failure (access denied, for one) and a folder of that name count as
// present: the starter must not create or report files it cannot see.
bool IsFilePresent(const std::wstring& path);

// Deletes the connected marker when there is one. Whether it is stale is the
// caller's to decide: only a service that no longer runs leaves a stale one.
void RemoveConnectedMarker(const std::wstring& connected_marker);

// Creates the install marker, then the report marker, each only when absent.
void CreateMissingMarkers(const std::wstring& install_marker, const std::wstring& report_marker);

}  // namespace starter::install
