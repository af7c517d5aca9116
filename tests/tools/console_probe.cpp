// Prints the ids of the processes attached to its console, separated by
// spaces, or "no console". A program started by a process with a console
// shares that console exactly when its parent's id is among them.
#include <windows.h>

#include <cstdio>

int main() {
  DWORD ids[64] = {};
  const DWORD count = ::GetConsoleProcessList(ids, 64);
  if (count == 0) {
    std::printf("no console");
    return 0;
  }
  for (DWORD i = 0; i < count && i < 64; ++i) std::printf("%lu ", static_cast<unsigned long>(ids[i]));
  return 0;
}
