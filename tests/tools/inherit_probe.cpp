// Sets the event whose handle value is given in decimal. An inherited
// handle keeps its value in the child, so the parent's event is set exactly
// when this program (or a program between them) inherited it.
#include <windows.h>

#include <cstdint>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const auto value = static_cast<std::uintptr_t>(std::strtoul(argv[1], nullptr, 10));
  return ::SetEvent(reinterpret_cast<HANDLE>(value)) ? 0 : 1;
}
