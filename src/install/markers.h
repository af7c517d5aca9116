#pragma once
// The marker files shared with the Vantic service, and the one existence
// test that every decision about them (and the readiness polls) rests on.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "contract/product_contract.h"
#include "platform/file_facts.h"
#include "platform/system_error.h"

namespace starter::install {

// A connected marker from an earlier run that could not be removed still
// stands at the marker's name when the new service starts. The waits must not
// take it for the new service's marker, which the service writes by creating
// the file anew or by truncating the one there.

// The marker that stood at the name after a failed removal, with its identity
// when the system would tell it.
struct LeftoverMarker {
  std::optional<platform::FileIdentity> identity;
};

// What a look at the marker's name found.
struct MarkerLook {
  enum class Kind {
    kAbsent,      // nothing there (no such file or folder)
    kUnreadable,  // a name that answers, but not with its identity
    kFile,        // a file (or folder) whose identity was read
  };
  Kind kind = Kind::kAbsent;
  platform::FileIdentity identity;  // for kFile
};

// True when what stands at the name is the service's marker, not the
// leftover: another file, or the leftover written since it was seen.
// A name that withholds its identity is not the service's marker: it is
// a file waiting for its deletion (the system answers access denied), which
// the service can neither create nor truncate; once it is gone, the
// service's file answers.
bool IsServiceMarker(const MarkerLook& look, const LeftoverMarker& leftover);

// False only when the path, or a folder on it, does not exist
// (platform::MeansNotThere). Any other failure (access denied, for one) and
// a folder of that name count as present: the starter must not create or
// report files it cannot see.
bool IsFilePresent(const std::wstring& path);

// Removes the connected marker when there is one. Whether it is stale is the
// caller's to decide: only a service that no longer runs leaves a stale one.
// A marker still standing at its name afterwards is logged and answered as
// the leftover the waits must tell apart from the service's marker.
std::optional<LeftoverMarker> RemoveConnectedMarker(const std::wstring& connected_marker);

// Leaves the connected marker where it is, when the run cannot tell whether
// a running service owns it; what stands there is answered like a leftover,
// so the waits count the marker only once it has been written again.
std::optional<LeftoverMarker> KeepConnectedMarker(const std::wstring& connected_marker);

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
