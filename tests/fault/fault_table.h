#pragma once
// Every system function the two programs call, and how each may fail on
// Windows: one row per function, read by the injector (which routes and
// fails the calls) and by the tests and the driver (which name them).
//
//   F(module, function, value, space, failures)  imported; typed from its declaration
//   P(module, function, type, value, space, failures)  looked up with GetProcAddress
//   N(module, name, why)  imported, not routed: data, or only the runtime's start calls it
//
// A failure answers `value` with the failure's code in `space`: the thread's
// last error (kLastError, which is also Winsock's), errno (kErrno), or as the
// value itself (kReturned: NTSTATUS, registry results, HRESULT, WSAStartup,
// a wait's result). A failure that says the buffer was too small
// (ERROR_MORE_DATA, ERROR_INSUFFICIENT_BUFFER) also sets the size needed, a
// larger one than given, as a value or table that grew would; a partial
// transfer (STARTER_PARTIAL_TRANSFER) moves part of the bytes and succeeds.
// A function with no failures is routed and counted, never failed: the ones
// that cannot fail, and the ones that fail only when the caller misuses
// them (a handle it does not own, a wrong size), which the documentation
// lists and a working program never meets. So too GetModuleHandle, asked
// only for modules every process has loaded (ntdll, kernel32, and the
// runtime's msvcrt), and Process32First/Next, whose snapshot is a copy
// taken at once that always holds the calling process.
#include <windows.h>

#include <winsock2.h>

#include <direct.h>
#include <io.h>
#include <iphlpapi.h>
#include <process.h>
#include <sddl.h>
#include <shlobj.h>
#include <sys/stat.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <cerrno>
#include <clocale>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>

#include "platform/ntdll.h"
#include "platform/process_hardening.h"

// The runtime's own locks, which its headers do not declare.
extern "C" void __cdecl _lock(int lock);
extern "C" void __cdecl _unlock(int lock);

namespace starter::fault {

enum class Space { kNone, kLastError, kErrno, kReturned };

struct Failure {
  const char* name;  // the code's name, as STARTER_FAULT names it
  long code;
};

// The dynamically resolved functions' types, as the code that looks them up names them.
using SetDefaultDllDirectoriesFn = decltype(platform::HardeningCalls::set_default_dll_directories);
using SetProcessMitigationPolicyFn = decltype(platform::HardeningCalls::set_process_mitigation_policy);
using GetExtendedTcpTableFn = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);
using GetTcp6TableFn = ULONG(WINAPI*)(PMIB_TCP6TABLE, PULONG, BOOL);

}  // namespace starter::fault

#define STARTER_FAULT_E(code) {#code, static_cast<long>(code)},

// NTSTATUS values the headers of this tree do not all define.
#define STARTER_STATUS_ACCESS_DENIED static_cast<long>(0xC0000022)
#define STARTER_STATUS_SHARING_VIOLATION static_cast<long>(0xC0000043)
#define STARTER_STATUS_DELETE_PENDING static_cast<long>(0xC0000056)
#define STARTER_STATUS_CANNOT_DELETE static_cast<long>(0xC0000121)
#define STARTER_STATUS_OPLOCK_BREAK_IN_PROGRESS static_cast<long>(0x00000108)
#define STARTER_STATUS_PROCESS_IS_TERMINATING static_cast<long>(0xC000010A)
#define STARTER_STATUS_PARTIAL_COPY static_cast<long>(0x8000000D)
#define STARTER_STATUS_INSUFFICIENT_RESOURCES static_cast<long>(0xC000009A)

// Not a code of the system's: a write or read that completes in part, moving
// half the bytes asked for and saying so, as a pipe or a nearly full disk may
// (the customer bit keeps it apart from every system code).
#define STARTER_PARTIAL_TRANSFER static_cast<long>(0x20000001)

// Windows error codes the headers of this tree lack.
#define STARTER_ERROR_ELEVATION_REQUIRED 740L

// clang-format off
#define STARTER_FAULT_TABLE(F, P, N, E)                                                                          \
  F(advapi32.dll, AdjustTokenPrivileges, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                                \
  F(advapi32.dll, ConvertStringSecurityDescriptorToSecurityDescriptorW, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY)) \
  F(advapi32.dll, CryptAcquireContextA, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY) E(NTE_BAD_KEYSET))             \
  F(advapi32.dll, CryptGenRandom, 0, kLastError, E(NTE_FAIL))                                                     \
  F(advapi32.dll, CryptReleaseContext, 0, kNone, )                                                                \
  F(advapi32.dll, LookupPrivilegeValueW, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                                \
  F(advapi32.dll, OpenProcessToken, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_NOT_ENOUGH_MEMORY))              \
  F(advapi32.dll, RegCloseKey, 0, kNone, )                                                                        \
  F(advapi32.dll, RegCreateKeyExW, 0, kReturned, E(ERROR_ACCESS_DENIED) E(ERROR_NOT_ENOUGH_MEMORY))               \
  F(advapi32.dll, RegOpenKeyExW, 0, kReturned, E(ERROR_ACCESS_DENIED) E(ERROR_FILE_NOT_FOUND))                    \
  F(advapi32.dll, RegQueryValueExW, 0, kReturned, E(ERROR_ACCESS_DENIED) E(ERROR_FILE_NOT_FOUND) E(ERROR_MORE_DATA)) \
  F(advapi32.dll, RegSetKeyValueW, 0, kReturned, E(ERROR_ACCESS_DENIED))                                          \
  F(kernel32.dll, AddVectoredExceptionHandler, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                         \
  F(kernel32.dll, AssignProcessToJobObject, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_NOT_ENOUGH_MEMORY))     \
  F(kernel32.dll, CancelSynchronousIo, 0, kLastError, E(ERROR_NOT_FOUND))                                         \
  F(kernel32.dll, CloseHandle, 0, kNone, )                                                                        \
  F(kernel32.dll, CreateDirectoryW, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_ALREADY_EXISTS) E(ERROR_PATH_NOT_FOUND)) \
  F(kernel32.dll, CreateEventA, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                                        \
  F(kernel32.dll, CreateEventW, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                                        \
  F(kernel32.dll, CreateFileW, -1, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_SHARING_VIOLATION) E(ERROR_NOT_ENOUGH_MEMORY) E(ERROR_PATH_NOT_FOUND) E(ERROR_TOO_MANY_OPEN_FILES)) \
  F(kernel32.dll, CreateJobObjectW, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_NOT_ENOUGH_MEMORY))             \
  F(kernel32.dll, CreateMutexW, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_NOT_ENOUGH_MEMORY) E(ERROR_INVALID_HANDLE))                 \
  F(kernel32.dll, CreatePipe, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                                          \
  F(kernel32.dll, CreateProcessW, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_FILE_NOT_FOUND) E(ERROR_NOT_ENOUGH_MEMORY) E(STARTER_ERROR_ELEVATION_REQUIRED) E(ERROR_BAD_EXE_FORMAT)) \
  F(kernel32.dll, CreateSemaphoreA, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                                    \
  F(kernel32.dll, CreateThread, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                                        \
  F(kernel32.dll, CreateToolhelp32Snapshot, -1, kLastError, E(ERROR_NOT_ENOUGH_MEMORY) E(ERROR_ACCESS_DENIED))    \
  F(kernel32.dll, DeleteCriticalSection, 0, kNone, )                                                              \
  F(kernel32.dll, DeleteProcThreadAttributeList, 0, kNone, )                                                      \
  F(kernel32.dll, DuplicateHandle, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_NOT_ENOUGH_MEMORY))              \
  F(kernel32.dll, EnterCriticalSection, 0, kNone, )                                                               \
  F(kernel32.dll, FileTimeToLocalFileTime, 0, kLastError, E(ERROR_INVALID_PARAMETER))                             \
  F(kernel32.dll, FileTimeToSystemTime, 0, kLastError, E(ERROR_INVALID_PARAMETER))                                \
  F(kernel32.dll, FindCloseChangeNotification, 0, kNone, )                                                        \
  F(kernel32.dll, FindFirstChangeNotificationW, -1, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_FILE_NOT_FOUND) E(ERROR_NOT_ENOUGH_MEMORY)) \
  F(kernel32.dll, FindNextChangeNotification, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                          \
  F(kernel32.dll, FormatMessageA, 0, kLastError, E(ERROR_MR_MID_NOT_FOUND) E(ERROR_NOT_ENOUGH_MEMORY))            \
  F(kernel32.dll, FreeLibrary, 0, kNone, )                                                                        \
  F(kernel32.dll, GetConsoleMode, 0, kLastError, E(ERROR_INVALID_HANDLE))                                         \
  F(kernel32.dll, GetConsoleProcessList, 0, kLastError, E(ERROR_INVALID_HANDLE))                                  \
  F(kernel32.dll, GetConsoleScreenBufferInfo, 0, kLastError, E(ERROR_INVALID_HANDLE))                             \
  F(kernel32.dll, GetCurrentProcess, 0, kNone, )                                                                  \
  F(kernel32.dll, GetCurrentProcessId, 0, kNone, )                                                                \
  F(kernel32.dll, GetCurrentThread, 0, kNone, )                                                                   \
  F(kernel32.dll, GetCurrentThreadId, 0, kNone, )                                                                 \
  F(kernel32.dll, GetDynamicTimeZoneInformation, TIME_ZONE_ID_INVALID, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))    \
  F(kernel32.dll, GetEnvironmentVariableW, 0, kLastError, E(ERROR_ENVVAR_NOT_FOUND))                              \
  F(kernel32.dll, GetFileAttributesA, INVALID_FILE_ATTRIBUTES, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_FILE_NOT_FOUND) E(ERROR_SHARING_VIOLATION)) \
  F(kernel32.dll, GetFileAttributesExW, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_FILE_NOT_FOUND) E(ERROR_SHARING_VIOLATION)) \
  F(kernel32.dll, GetFileAttributesW, INVALID_FILE_ATTRIBUTES, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_FILE_NOT_FOUND) E(ERROR_SHARING_VIOLATION)) \
  F(kernel32.dll, GetFileInformationByHandle, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_INVALID_FUNCTION))    \
  F(kernel32.dll, GetFileInformationByHandleEx, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_INVALID_PARAMETER)) \
  F(kernel32.dll, GetFileSizeEx, 0, kLastError, E(ERROR_ACCESS_DENIED))                                           \
  F(kernel32.dll, GetFileType, 0, kNone, )                                                                        \
  F(kernel32.dll, GetHandleInformation, 0, kNone, )                                                               \
  F(kernel32.dll, GetLastError, 0, kNone, )                                                                       \
  F(kernel32.dll, GetModuleHandleA, 0, kNone, )                                                                   \
  F(kernel32.dll, GetModuleHandleW, 0, kNone, )                                                                   \
  F(kernel32.dll, GetProcAddress, 0, kLastError, E(ERROR_PROC_NOT_FOUND))                                         \
  F(kernel32.dll, GetProcessAffinityMask, 0, kLastError, E(ERROR_ACCESS_DENIED))                                  \
  F(kernel32.dll, GetProcessTimes, 0, kLastError, E(ERROR_ACCESS_DENIED))                                         \
  F(kernel32.dll, GetStartupInfoA, 0, kNone, )                                                                    \
  F(kernel32.dll, GetStdHandle, -1, kLastError, E(ERROR_INVALID_HANDLE))                                          \
  F(kernel32.dll, GetSystemDirectoryW, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                                 \
  F(kernel32.dll, GetSystemTimeAdjustment, 0, kNone, )                                                            \
  F(kernel32.dll, GetSystemTimeAsFileTime, 0, kNone, )                                                            \
  F(kernel32.dll, GetSystemWindowsDirectoryW, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                          \
  F(kernel32.dll, GetThreadContext, 0, kLastError, E(ERROR_ACCESS_DENIED))                                        \
  F(kernel32.dll, GetThreadPriority, THREAD_PRIORITY_ERROR_RETURN, kLastError, E(ERROR_ACCESS_DENIED))            \
  F(kernel32.dll, GetThreadTimes, 0, kLastError, E(ERROR_ACCESS_DENIED))                                          \
  F(kernel32.dll, GetTickCount64, 0, kNone, )                                                                     \
  F(kernel32.dll, InitializeCriticalSection, 0, kNone, )                                                          \
  F(kernel32.dll, InitializeProcThreadAttributeList, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                   \
  F(kernel32.dll, IsDBCSLeadByteEx, 0, kNone, )                                                                   \
  F(kernel32.dll, IsDebuggerPresent, 0, kNone, )                                                                  \
  F(kernel32.dll, IsWow64Process, 0, kLastError, E(ERROR_ACCESS_DENIED))                                          \
  F(kernel32.dll, LeaveCriticalSection, 0, kNone, )                                                               \
  F(kernel32.dll, LoadLibraryA, 0, kLastError, E(ERROR_MOD_NOT_FOUND) E(ERROR_NOT_ENOUGH_MEMORY) E(ERROR_ACCESS_DENIED)) \
  F(kernel32.dll, LoadLibraryExW, 0, kLastError, E(ERROR_MOD_NOT_FOUND) E(ERROR_NOT_ENOUGH_MEMORY) E(ERROR_ACCESS_DENIED)) \
  F(kernel32.dll, LoadLibraryW, 0, kLastError, E(ERROR_MOD_NOT_FOUND) E(ERROR_NOT_ENOUGH_MEMORY) E(ERROR_ACCESS_DENIED)) \
  F(kernel32.dll, LocalFree, 0, kNone, )                                                                          \
  F(kernel32.dll, MultiByteToWideChar, 0, kLastError, E(ERROR_NO_UNICODE_TRANSLATION))                            \
  F(kernel32.dll, OpenMutexW, 0, kLastError, E(ERROR_FILE_NOT_FOUND) E(ERROR_ACCESS_DENIED))                      \
  F(kernel32.dll, OpenProcess, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_INVALID_PARAMETER))                  \
  F(kernel32.dll, OpenThread, 0, kLastError, E(ERROR_ACCESS_DENIED))                                              \
  F(kernel32.dll, OutputDebugStringA, 0, kNone, )                                                                 \
  F(kernel32.dll, Process32FirstW, 0, kNone, )                                                                    \
  F(kernel32.dll, Process32NextW, 0, kNone, )                                                                     \
  F(kernel32.dll, QueryFullProcessImageNameW, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_GEN_FAILURE))         \
  F(kernel32.dll, QueryPerformanceCounter, 0, kNone, )                                                            \
  F(kernel32.dll, QueryPerformanceFrequency, 0, kNone, )                                                          \
  F(kernel32.dll, RaiseException, 0, kNone, )                                                                     \
  F(kernel32.dll, ReadFile, 0, kLastError, E(ERROR_LOCK_VIOLATION) E(ERROR_BROKEN_PIPE) E(STARTER_PARTIAL_TRANSFER))                          \
  F(kernel32.dll, ReadProcessMemory, 0, kLastError, E(ERROR_PARTIAL_COPY) E(ERROR_ACCESS_DENIED))                 \
  F(kernel32.dll, ReleaseMutex, 0, kNone, )                                                                       \
  F(kernel32.dll, ReleaseSemaphore, 0, kNone, )                                                                   \
  F(kernel32.dll, RemoveVectoredExceptionHandler, 0, kNone, )                                                     \
  F(kernel32.dll, ResetEvent, 0, kNone, )                                                                         \
  F(kernel32.dll, ResumeThread, -1, kLastError, E(ERROR_ACCESS_DENIED))                                           \
  F(kernel32.dll, SetConsoleTextAttribute, 0, kLastError, E(ERROR_INVALID_HANDLE))                                \
  F(kernel32.dll, SetEvent, 0, kNone, )                                                                           \
  F(kernel32.dll, SetFileInformationByHandle, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_SHARING_VIOLATION) E(ERROR_INVALID_PARAMETER)) \
  F(kernel32.dll, SetFilePointerEx, 0, kLastError, E(ERROR_NEGATIVE_SEEK) E(ERROR_ACCESS_DENIED))                                                                   \
  F(kernel32.dll, SetHandleInformation, 0, kNone, )                                                               \
  F(kernel32.dll, SetInformationJobObject, 0, kLastError, E(ERROR_ACCESS_DENIED) E(ERROR_INVALID_PARAMETER))      \
  F(kernel32.dll, SetLastError, 0, kNone, )                                                                       \
  F(kernel32.dll, SetProcessAffinityMask, 0, kLastError, E(ERROR_ACCESS_DENIED))                                  \
  F(kernel32.dll, SetSystemTime, 0, kLastError, E(ERROR_PRIVILEGE_NOT_HELD))                                      \
  F(kernel32.dll, SetThreadContext, 0, kLastError, E(ERROR_ACCESS_DENIED))                                        \
  F(kernel32.dll, SetThreadPriority, 0, kLastError, E(ERROR_ACCESS_DENIED))                                       \
  F(kernel32.dll, SetUnhandledExceptionFilter, 0, kNone, )                                                        \
  F(kernel32.dll, Sleep, 0, kNone, )                                                                              \
  F(kernel32.dll, SuspendThread, -1, kLastError, E(ERROR_ACCESS_DENIED))                                          \
  F(kernel32.dll, TerminateJobObject, 0, kLastError, E(ERROR_ACCESS_DENIED))                                      \
  F(kernel32.dll, TerminateProcess, 0, kLastError, E(ERROR_ACCESS_DENIED))                                        \
  F(kernel32.dll, TlsAlloc, TLS_OUT_OF_INDEXES, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                           \
  F(kernel32.dll, TlsGetValue, 0, kNone, )                                                                        \
  F(kernel32.dll, TlsSetValue, 0, kNone, )                                                                        \
  F(kernel32.dll, TryEnterCriticalSection, 0, kNone, )                                                            \
  F(kernel32.dll, UpdateProcThreadAttribute, 0, kLastError, E(ERROR_NOT_SUPPORTED))                               \
  F(kernel32.dll, VirtualProtect, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                                      \
  F(kernel32.dll, VirtualQuery, 0, kNone, )                                                                       \
  F(kernel32.dll, WaitForMultipleObjects, 0, kReturned, E(WAIT_FAILED) E(WAIT_ABANDONED))                                                             \
  F(kernel32.dll, WaitForSingleObject, 0, kReturned, E(WAIT_FAILED) E(WAIT_ABANDONED))                                                                \
  F(kernel32.dll, WideCharToMultiByte, 0, kLastError, E(ERROR_NO_UNICODE_TRANSLATION))                            \
  F(kernel32.dll, WriteConsoleA, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                                       \
  F(kernel32.dll, WriteConsoleW, 0, kLastError, E(ERROR_NOT_ENOUGH_MEMORY))                                       \
  F(kernel32.dll, WriteFile, 0, kLastError, E(ERROR_DISK_FULL) E(ERROR_LOCK_VIOLATION) E(ERROR_NO_DATA) E(STARTER_PARTIAL_TRANSFER))          \
  P(kernel32.dll, SetDefaultDllDirectories, starter::fault::SetDefaultDllDirectoriesFn, 0, kLastError, E(ERROR_ACCESS_DENIED)) \
  P(kernel32.dll, SetProcessMitigationPolicy, starter::fault::SetProcessMitigationPolicyFn, 0, kLastError, E(ERROR_NOT_SUPPORTED) E(ERROR_ACCESS_DENIED)) \
  N(msvcrt.dll, __getmainargs, "only the runtime's start calls it, before main")                                 \
  N(msvcrt.dll, __initenv, "data")                                                                                \
  N(msvcrt.dll, __mb_cur_max, "data")                                                                             \
  N(msvcrt.dll, __p__acmdln, "only the runtime's start calls it, before main")                                   \
  N(msvcrt.dll, __p__commode, "only the runtime's start calls it, before main")                                  \
  N(msvcrt.dll, __p__fmode, "only the runtime's start calls it, before main")                                    \
  N(msvcrt.dll, __set_app_type, "only the runtime's start calls it, before main")                                \
  N(msvcrt.dll, __setusermatherr, "only the runtime's start calls it, before main")                              \
  N(msvcrt.dll, _amsg_exit, "the runtime's own fatal error, which ends the process")                             \
  F(msvcrt.dll, _beginthreadex, 0, kErrno, E(EAGAIN) E(EACCES))                                                   \
  F(msvcrt.dll, _cexit, 0, kNone, )                                                                               \
  F(msvcrt.dll, _close, 0, kNone, )                                                                               \
  F(msvcrt.dll, _endthreadex, 0, kNone, )                                                                         \
  F(msvcrt.dll, _errno, 0, kNone, )                                                                               \
  F(msvcrt.dll, _exit, 0, kNone, )                                                                                \
  F(msvcrt.dll, _fdopen, 0, kErrno, E(ENOMEM))                                                                    \
  F(msvcrt.dll, _filelength, 0, kNone, )                                                                          \
  F(msvcrt.dll, _fileno, 0, kNone, )                                                                              \
  F(msvcrt.dll, _fsopen, 0, kErrno, E(EACCES) E(EMFILE))                                                          \
  F(msvcrt.dll, _get_osfhandle, 0, kNone, )                                                                       \
  N(msvcrt.dll, _initterm, "only the runtime's start calls it, before main")                                     \
  N(msvcrt.dll, _iob, "data")                                                                                     \
  F(msvcrt.dll, _isatty, 0, kNone, )                                                                              \
  F(msvcrt.dll, _lock, 0, kNone, )                                                                                \
  F(msvcrt.dll, _mkdir, -1, kErrno, E(EACCES) E(ENOENT))                                                          \
  F(msvcrt.dll, _onexit, 0, kErrno, E(ENOMEM))                                                                    \
  F(msvcrt.dll, _open, -1, kErrno, E(EACCES) E(EMFILE))                                                           \
  F(msvcrt.dll, _open_osfhandle, -1, kErrno, E(EMFILE))                                                           \
  F(msvcrt.dll, _read, 0, kNone, )                                                                                \
  N(msvcrt.dll, _setjmp3, "returns twice: a wrapper's frame would be gone at the second return")                  \
  F(msvcrt.dll, _strdup, 0, kErrno, E(ENOMEM))                                                                    \
  F(msvcrt.dll, _ultoa, 0, kNone, )                                                                               \
  F(msvcrt.dll, _unlock, 0, kNone, )                                                                              \
  F(msvcrt.dll, _write, -1, kErrno, E(ENOSPC))                                                                    \
  F(msvcrt.dll, _wstat64, -1, kErrno, E(ENOENT))                                                                  \
  F(msvcrt.dll, abort, 0, kNone, )                                                                                \
  F(msvcrt.dll, atoi, 0, kNone, )                                                                                 \
  F(msvcrt.dll, calloc, 0, kErrno, E(ENOMEM))                                                                     \
  F(msvcrt.dll, exit, 0, kNone, )                                                                                 \
  F(msvcrt.dll, fclose, EOF, kErrno, E(ENOSPC))                                                                   \
  F(msvcrt.dll, feof, 0, kNone, )                                                                                 \
  F(msvcrt.dll, ferror, 0, kNone, )                                                                               \
  F(msvcrt.dll, fflush, EOF, kErrno, E(ENOSPC))                                                                   \
  F(msvcrt.dll, fprintf, -1, kErrno, E(ENOSPC))                                                                   \
  F(msvcrt.dll, fputc, EOF, kErrno, E(ENOSPC))                                                                    \
  F(msvcrt.dll, fputs, EOF, kErrno, E(ENOSPC))                                                                    \
  F(msvcrt.dll, fputwc, WEOF, kErrno, E(ENOSPC))                                                                  \
  F(msvcrt.dll, fread, 0, kErrno, E(EIO))                                                                         \
  F(msvcrt.dll, free, 0, kNone, )                                                                                 \
  F(msvcrt.dll, fwprintf, -1, kErrno, E(ENOSPC))                                                                  \
  F(msvcrt.dll, fwrite, 0, kErrno, E(ENOSPC))                                                                     \
  F(msvcrt.dll, getenv, 0, kNone, )                                                                               \
  F(msvcrt.dll, gmtime, 0, kErrno, E(EINVAL))                                                                     \
  F(msvcrt.dll, iswctype, 0, kNone, )                                                                             \
  F(msvcrt.dll, localeconv, 0, kNone, )                                                                           \
  F(msvcrt.dll, localtime, 0, kErrno, E(EINVAL))                                                                  \
  F(msvcrt.dll, longjmp, 0, kNone, )                                                                              \
  F(msvcrt.dll, malloc, 0, kErrno, E(ENOMEM))                                                                     \
  F(msvcrt.dll, memchr, 0, kNone, )                                                                               \
  F(msvcrt.dll, memcmp, 0, kNone, )                                                                               \
  F(msvcrt.dll, memcpy, 0, kNone, )                                                                               \
  F(msvcrt.dll, memmove, 0, kNone, )                                                                              \
  F(msvcrt.dll, memset, 0, kNone, )                                                                               \
  F(msvcrt.dll, printf, -1, kErrno, E(ENOSPC))                                                                    \
  F(msvcrt.dll, realloc, 0, kErrno, E(ENOMEM))                                                                    \
  F(msvcrt.dll, remove, -1, kErrno, E(EACCES) E(ENOENT))                                                          \
  F(msvcrt.dll, rename, -1, kErrno, E(EACCES) E(ENOENT))                                                          \
  F(msvcrt.dll, setlocale, 0, kNone, )                                                                            \
  F(msvcrt.dll, signal, 0, kNone, )                                                                               \
  F(msvcrt.dll, strchr, 0, kNone, )                                                                               \
  F(msvcrt.dll, strcmp, 0, kNone, )                                                                               \
  F(msvcrt.dll, strcoll, 0, kNone, )                                                                              \
  F(msvcrt.dll, strerror, 0, kNone, )                                                                             \
  F(msvcrt.dll, strftime, 0, kNone, )                                                                             \
  F(msvcrt.dll, strlen, 0, kNone, )                                                                               \
  F(msvcrt.dll, strncmp, 0, kNone, )                                                                              \
  F(msvcrt.dll, strtoul, 0, kNone, )                                                                              \
  F(msvcrt.dll, strxfrm, 0, kNone, )                                                                              \
  F(msvcrt.dll, time, 0, kNone, )                                                                                 \
  F(msvcrt.dll, towlower, 0, kNone, )                                                                             \
  F(msvcrt.dll, towupper, 0, kNone, )                                                                             \
  F(msvcrt.dll, vfprintf, -1, kErrno, E(ENOSPC))                                                                  \
  F(msvcrt.dll, wcscoll, 0, kNone, )                                                                              \
  F(msvcrt.dll, wcsftime, 0, kNone, )                                                                             \
  F(msvcrt.dll, wcslen, 0, kNone, )                                                                               \
  F(msvcrt.dll, wcsxfrm, 0, kNone, )                                                                              \
  P(ntdll.dll, NtCreateFile, starter::platform::CreateFileFn, 0, kReturned, E(STARTER_STATUS_ACCESS_DENIED) E(STARTER_STATUS_SHARING_VIOLATION) E(STARTER_STATUS_DELETE_PENDING) E(STARTER_STATUS_OPLOCK_BREAK_IN_PROGRESS)) \
  P(ntdll.dll, NtQueryInformationProcess, starter::platform::QueryInformationProcessFn, 0, kReturned, E(STARTER_STATUS_ACCESS_DENIED) E(STARTER_STATUS_PROCESS_IS_TERMINATING)) \
  P(ntdll.dll, NtSetInformationFile, starter::platform::SetInformationFileFn, 0, kReturned, E(STARTER_STATUS_ACCESS_DENIED) E(STARTER_STATUS_SHARING_VIOLATION) E(STARTER_STATUS_CANNOT_DELETE)) \
  P(ntdll.dll, NtWow64QueryInformationProcess64, starter::platform::QueryInformationProcessFn, 0, kReturned, E(STARTER_STATUS_ACCESS_DENIED) E(STARTER_STATUS_PROCESS_IS_TERMINATING)) \
  P(ntdll.dll, NtWow64ReadVirtualMemory64, starter::platform::ReadVirtualMemory64Fn, 0, kReturned, E(STARTER_STATUS_PARTIAL_COPY) E(STARTER_STATUS_ACCESS_DENIED)) \
  P(iphlpapi.dll, GetExtendedTcpTable, starter::fault::GetExtendedTcpTableFn, 0, kReturned, E(ERROR_INSUFFICIENT_BUFFER) E(ERROR_NOT_ENOUGH_MEMORY)) \
  P(iphlpapi.dll, GetTcp6Table, starter::fault::GetTcp6TableFn, 0, kReturned, E(ERROR_NOT_SUPPORTED) E(ERROR_INSUFFICIENT_BUFFER)) \
  F(shell32.dll, SHGetMalloc, 0, kReturned, E(E_OUTOFMEMORY))                                                     \
  F(shell32.dll, SHGetPathFromIDListW, 0, kLastError, E(ERROR_PATH_NOT_FOUND))                                    \
  F(shell32.dll, SHGetSpecialFolderLocation, 0, kReturned, E(E_FAIL) E(E_INVALIDARG))                             \
  F(ws2_32.dll, WSACleanup, 0, kNone, )                                                                           \
  F(ws2_32.dll, WSAGetLastError, 0, kNone, )                                                                      \
  F(ws2_32.dll, WSAStartup, 0, kReturned, E(WSASYSNOTREADY) E(WSAEPROCLIM))                                       \
  F(ws2_32.dll, bind, SOCKET_ERROR, kLastError, E(WSAEACCES) E(WSAEADDRINUSE))                                    \
  F(ws2_32.dll, closesocket, 0, kNone, )                                                                          \
  F(ws2_32.dll, htonl, 0, kNone, )                                                                                \
  F(ws2_32.dll, htons, 0, kNone, )                                                                                \
  F(ws2_32.dll, socket, -1, kLastError, E(WSAENOBUFS) E(WSAEMFILE))
// clang-format on
