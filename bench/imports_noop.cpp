// A no-op console program that loads the same system libraries as the
// starter (shell32 above all, whose loading is costly under wine) and calls
// none of them: the start-up cost the starter cannot avoid.
#include <windows.h>

#include <winsock2.h>
#include <iphlpapi.h>
#include <shlobj.h>

int main(int argc, char**) {
  // Never true: the references only make the loader bring the libraries in.
  if (argc > 1000) {
    IMalloc* allocator = nullptr;
    ::SHGetMalloc(&allocator);
    DWORD size = 0;
    ::GetExtendedTcpTable(nullptr, &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    HKEY key = nullptr;
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, &key);
    return ::ntohs(static_cast<u_short>(size));
  }
  return 0;
}
