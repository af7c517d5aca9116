#pragma once
// A rule the fuzz targets check on every input. A broken rule aborts, so
// libFuzzer keeps the input as a crash.
#include <cstdio>
#include <cstdlib>

namespace starter::fuzz {

inline void Require(bool holds, const char* rule) {
  if (holds) return;
  std::fprintf(stderr, "rule broken: %s\n", rule);
  std::abort();
}

}  // namespace starter::fuzz
