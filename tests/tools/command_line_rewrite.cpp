#include "tools/command_line_rewrite.h"

#include <windows.h>

#include <winternl.h>

#include <cwchar>

namespace standin {
namespace {

// gcc 12 takes the fs-relative read inside NtCurrentTeb for an access through
// a null pointer and warns (-Warray-bounds); the read is how a thread finds
// its own TEB.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
UNICODE_STRING& OwnCommandLine() {
  return NtCurrentTeb()->ProcessEnvironmentBlock->ProcessParameters->CommandLine;
}
#pragma GCC diagnostic pop

// Blanks from the end of the text to the end of the buffer: the text then
// runs up to MaximumLength with no terminator.
void FillToMaximum(UNICODE_STRING& line) {
  const USHORT units = line.MaximumLength / sizeof(wchar_t);
  for (USHORT at = line.Length / sizeof(wchar_t); at < units; ++at) line.Buffer[at] = L' ';
  line.Length = static_cast<USHORT>(units * sizeof(wchar_t));
}

// Ends the buffer after "Vantic.j": the rest of the jar name is still in
// memory right behind it, where only a reader that overruns would find it.
bool CutInsideJarName(UNICODE_STRING& line) {
  const wchar_t* jar = std::wcsstr(line.Buffer, L"Vantic.jar");
  if (!jar) return false;
  FillToMaximum(line);
  line.MaximumLength = static_cast<USHORT>((jar - line.Buffer + 8) * sizeof(wchar_t));
  line.Length = line.MaximumLength;
  return true;
}

// Reserved address space is never handed out by other allocations, and a
// read from it fails: the address stays unreadable for the process's life.
bool PointAtReservedMemory(UNICODE_STRING& line) {
  void* reserved = ::VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
  if (!reserved) return false;
  line.Buffer = static_cast<PWSTR>(reserved);
  return true;
}

// The last pages of the 4 GiB a 32-bit process can name are never its own
// under wine (the system keeps them), so another process's read fails there
// instead of reading zeros as it does from reserved memory.
bool PointPastTheAddressSpace(UNICODE_STRING& line) {
  line.Buffer = reinterpret_cast<PWSTR>(static_cast<ULONG_PTR>(0xFFFFE000u));
  return true;
}

}  // namespace

bool RewriteOwnCommandLine(const std::wstring& how) {
  UNICODE_STRING& line = OwnCommandLine();
  if (how == L"no_nul") {
    FillToMaximum(line);
    return true;
  }
  if (how == L"no_nul_cut") return CutInsideJarName(line);
  if (how == L"unmapped") return PointAtReservedMemory(line);
  if (how == L"unreadable") return PointPastTheAddressSpace(line);
  if (how == L"zero_length") {
    line.Length = 0;
    return true;
  }
  return false;
}

}  // namespace standin
