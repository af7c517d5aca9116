#pragma once

namespace starter::service {

// True when TEMP names an existing directory. The service inherits the
// starter's environment; when this fails, the launch points Java's temporary
// folders at a fixed one instead.
bool CheckDefaultTemp();

}  // namespace starter::service
