// Holds TCP connections on the loopback address, both ends, for the tests and
// the benchmark that need a busy machine: one process may hold at most 20,000
// descriptors on the test machines, so more connections than that take a
// second holder. Usage: connection_holder COUNT. Writes how many connections
// it made as a decimal line to its output once they are all open, then holds
// them until its input ends (its starter closed it, or exited).
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/winsock.h"
#include "support/port_env.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const starter::platform::WinsockSession winsock;
  const starter::test::LoopbackConnections held(std::atoi(argv[1]));
  const std::string made = std::to_string(held.Count()) + "\n";
  DWORD count = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), made.data(), static_cast<DWORD>(made.size()), &count, nullptr);
  char ignored[64];
  while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), ignored, sizeof(ignored), &count, nullptr) && count > 0) {
  }
  return 0;
}
