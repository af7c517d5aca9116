// A library planted beside a program under a system library's name: when
// loaded, it leaves "<its file name>.loaded" beside itself. It exports the
// one IP helper function the netstat stand-in imports, answering that it is
// not supported, so a program that does load it still runs to its end.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  const std::wstring trace = std::wstring(path, length) + L".loaded";
  const HANDLE file = ::CreateFileW(trace.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI GetExtendedTcpTable(PVOID, PDWORD, BOOL, ULONG, int, ULONG) {
  return ERROR_NOT_SUPPORTED;
}
