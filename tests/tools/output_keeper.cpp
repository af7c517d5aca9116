// Hands a copy of its standard output to the process whose id it is given,
// writes the copy's handle value there into the file it is given, and ends:
// the pipe it was given then stays open in a process outside its job, as
// when a program the listing started escaped the job.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const HANDLE target = ::OpenProcess(PROCESS_DUP_HANDLE, FALSE, std::strtoul(argv[1], nullptr, 10));
  HANDLE copy = nullptr;
  if (!target || !::DuplicateHandle(::GetCurrentProcess(), ::GetStdHandle(STD_OUTPUT_HANDLE), target, &copy, 0,
                                    FALSE, DUPLICATE_SAME_ACCESS))
    return 1;
  std::FILE* file = std::fopen(argv[2], "w");
  if (!file) return 1;
  std::fprintf(file, "%lu", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(copy)));
  return std::fclose(file) == 0 ? 0 : 1;
}
