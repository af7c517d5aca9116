#pragma once
// How often a part appears in a text: a forged line that managed to start a
// line of its own in a report shows as one marker too many.
#include <cstddef>
#include <string>

namespace starter::test {

inline std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

}  // namespace starter::test
