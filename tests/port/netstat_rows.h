#pragma once
// Rows of a connection listing laid out as "netstat -ano" prints them.
#include <algorithm>
#include <string>

namespace starter::test {

inline std::string NetstatRow(const std::string& local, const std::string& foreign,
                              const std::string& state, const std::string& owner,
                              const std::string& protocol = "TCP",
                              const std::string& line_end = "\n") {
  std::string row = "  " + protocol;
  row.resize(9, ' ');
  for (const std::string* column : {&local, &foreign, &state}) {
    row += *column;
    row.resize(
        row.size() + std::max<std::size_t>(1, 23 - std::min<std::size_t>(23, column->size())), ' ');
  }
  return row + owner + line_end;
}

}  // namespace starter::test
