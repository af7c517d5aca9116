#pragma once
// A connected marker from an earlier run that could not be removed still
// stands at the marker's name when the new service starts. The waits must not
// take it for the new service's marker, which the service writes by creating
// the file anew or by truncating the one there.
#include <optional>

#include "platform/file_facts.h"

namespace starter::install {

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

}  // namespace starter::install
