#pragma once
// The marker files shared with the Vantic service, and the one existence
// test that every decision about them (and the readiness polls) rests on.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "contract/product_contract.h"
#include "install/leftover_marker.h"
#include "platform/system_error.h"

namespace starter::install {

// False only when the path, or a folder on it, does not exist. Any other
// failure (access denied, for one) and a folder of that name count as
// present: the starter must not create or report files it cannot see.
bool IsFilePresent(const std::wstring& path);

// Whether a system error about a path says nothing stands there: the file,
// or a folder on the way to it, does not exist.
bool MeansAbsent(std::uint32_t error);
// The same for a failure of any kind: a Win32 error or an NTSTATUS.
bool MeansAbsent(const platform::SystemError& failure);

// Removes the connected marker when there is one. Whether it is stale is the
// caller's to decide: only a service that no longer runs leaves a stale one.
// A marker still standing at its name afterwards is logged and answered as
// the leftover the waits must tell apart from the service's marker.
std::optional<LeftoverMarker> RemoveConnectedMarker(const std::wstring& connected_marker);

// Whether the service's connected marker is there: with no leftover, as
// IsFilePresent says; with one, only a marker that is not the leftover.
bool IsConnectedMarkerPresent(const std::wstring& connected_marker, const std::optional<LeftoverMarker>& leftover);

// Writes `content` to a new file at `path`, open to every other reader and
// writer meanwhile; what failed, if a step did. A file already there is left
// as it is, and the failure is ERROR_FILE_EXISTS.
platform::Status WriteMarker(const std::wstring& path, std::string_view content);

// Creates each marker the starter writes for the service, in the order of
// the table, only when absent; `paths` are the markers' paths in that order.
void CreateMissingMarkers(const std::array<std::wstring, contract::kMarkerCount>& paths);

}  // namespace starter::install
