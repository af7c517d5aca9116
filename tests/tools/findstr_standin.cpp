// findstr as a pipe uses it: "findstr <text>" copies every line of standard
// input that contains <text> (literally, case-sensitively), with its line end,
// and exits with 1 when no line matched. wine's own prints nothing from a pipe.
// A run leaves a trace when asked (tools/standin_trace.h).
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "tools/standin_trace.h"

int main(int argc, char** argv) {
  starter::test::LeaveTrace();
  if (argc < 2) return 2;
  // Binary on both sides, so line ends pass through exactly as they came.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  std::string input;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof(chunk), stdin)) > 0;)
    input.append(chunk, got);

  const std::string wanted = argv[1];
  bool matched = false;
  for (std::size_t start = 0; start < input.size();) {
    const std::size_t end = std::min(input.find('\n', start), input.size() - 1) + 1;
    const std::string line = input.substr(start, end - start);
    if (line.find(wanted) != std::string::npos) {
      std::fwrite(line.data(), 1, line.size(), stdout);
      matched = true;
    }
    start = end;
  }
  return matched ? 0 : 1;
}
