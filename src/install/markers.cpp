#include "install/markers.h"

namespace starter::install {

bool IsServiceMarker(const MarkerLook& look, const LeftoverMarker& leftover) {
  if (look.kind != MarkerLook::Kind::kFile) return false;
  // A leftover seen only as a name waiting for deletion: whatever answers
  // now came after it.
  if (!leftover.identity) return true;
  const platform::FileIdentity& was = *leftover.identity;
  const platform::FileIdentity& now = look.identity;
  if (now.volume != was.volume || now.index != was.index) return true;
  return now.last_write > was.last_write;
}

}  // namespace starter::install
