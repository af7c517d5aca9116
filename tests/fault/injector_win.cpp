// The fault injector of the test builds (tests/fault/CMakeLists.txt): the
// shipped programs' objects, linked with this file. Before anything of the
// program runs, it points every import slot of the program that fault_table.h
// names at a wrapper of the same type, and GetProcAddress's wrapper hands out
// wrappers for the functions the program looks up. A wrapper counts the call
// and, when STARTER_FAULT names it, answers the chosen failure instead of
// calling the system; otherwise it calls the system's function. Calls are
// counted and failed from main on, and during the hardening before the
// runtime starts (the runtime's own start is left alone: it cannot answer a
// failure, and no product code runs in it).
//
//   STARTER_FAULT=Function:N:FAILURE[:from]   see fault_order.h
//   STARTER_FAULT_COUNT=<file>                each row's calls and routing (CountFile)
//   STARTER_FAULT_LOG=<file>                  the log whose size the count file keeps
//                                             from the moment the order fires
//
// An order that names no row or no failure of its row ends the process at once
// with exit code kBadOrderExit, so a driver's typo never reads as a passing run.
#include <windows.h>

#include <fcntl.h>

#include <cstdarg>
#include <type_traits>

#include "fault/fault_catalogue.h"
#include "fault/fault_order.h"

extern "C" int __real_main(int argc, char** argv, char** environment);
extern "C" int __real_mainCRTStartup();
extern "C" int HardenedEntry();

namespace starter::fault {
namespace {

constexpr UINT kBadOrderExit = 0xFA;

// Plain data only: this runs before the runtime's initialisers, which would
// reset anything that has a constructor.
void* real_functions[kRowCount];
CountFile local_counts;
CountFile* counts = &local_counts;
volatile long armed = 0;
char order_text[256];
std::optional<FaultOrder> order;
int order_row = -1;
const Failure* order_failure = nullptr;
decltype(&::SetLastError) set_last_error = nullptr;
decltype(&::_errno) errno_location = nullptr;
decltype(&::GetModuleHandleA) get_module_handle = nullptr;
decltype(&::GetProcAddress) get_proc_address = nullptr;
decltype(&::vfprintf) msvcrt_vfprintf = nullptr;
decltype(&::vfwprintf) msvcrt_vfwprintf = nullptr;
decltype(&::GetFileAttributesExW) get_file_attributes = nullptr;
wchar_t log_path[MAX_PATH];

// The size of the file STARTER_FAULT_LOG names when the order first fires,
// which tells the driver what the run had logged before the failed call.
void NoteWhereItFired() {
  WIN32_FILE_ATTRIBUTE_DATA facts{};
  if (::InterlockedCompareExchange(&counts->log_bytes_at_fault, kNoLog, kNotFired) != kNotFired) return;
  if (log_path[0] && get_file_attributes(log_path, GetFileExInfoStandard, &facts))
    ::InterlockedExchange(&counts->log_bytes_at_fault, static_cast<long>(facts.nFileSizeLow));
}

// Counts the call and tells whether it is the one to fail.
bool Fails(int row) {
  if (!armed) return false;
  const long call = ::InterlockedIncrement(&counts->calls[row]);
  const bool fails = row == order_row && Fires(*order, static_cast<std::uint32_t>(call));
  if (fails) NoteWhereItFired();
  return fails;
}

// The chosen failure's answer, in the function's return type.
template <typename Result>
Result Answer(int row) {
  const Row& entry = RowAt(row);
  if (entry.space == Space::kLastError) set_last_error(static_cast<DWORD>(order_failure->code));
  if (entry.space == Space::kErrno) *errno_location() = static_cast<int>(order_failure->code);
  const long value = entry.space == Space::kReturned ? order_failure->code : entry.value;
  if constexpr (std::is_void_v<Result>) {
    return;
  } else if constexpr (std::is_pointer_v<Result>) {
    return reinterpret_cast<Result>(static_cast<std::intptr_t>(value));
  } else {
    return static_cast<Result>(value);
  }
}

template <int RowIndex, typename Function>
struct Wrapper;

template <int RowIndex, typename Result, typename... Arguments>
struct Wrapper<RowIndex, Result(WINAPI*)(Arguments...)> {
  static Result WINAPI Call(Arguments... arguments) {
    if (Fails(RowIndex)) return Answer<Result>(RowIndex);
    return reinterpret_cast<Result(WINAPI*)(Arguments...)>(real_functions[RowIndex])(arguments...);
  }
};

template <int RowIndex, typename Result, typename... Arguments>
struct Wrapper<RowIndex, Result(__cdecl*)(Arguments...)> {
  static Result __cdecl Call(Arguments... arguments) {
    if (Fails(RowIndex)) return Answer<Result>(RowIndex);
    return reinterpret_cast<Result(__cdecl*)(Arguments...)>(real_functions[RowIndex])(arguments...);
  }
};

// The runtime's formatted output: a variable argument list cannot be passed
// on, so the runtime's own form that takes a list does the writing.
template <>
struct Wrapper<kRow_printf, decltype(&::printf)> {
  static int __cdecl Call(const char* format, ...) {
    if (Fails(kRow_printf)) return Answer<int>(kRow_printf);
    va_list list;
    va_start(list, format);
    const int written = msvcrt_vfprintf(stdout, format, list);
    va_end(list);
    return written;
  }
};

template <>
struct Wrapper<kRow_fprintf, decltype(&::fprintf)> {
  static int __cdecl Call(FILE* stream, const char* format, ...) {
    if (Fails(kRow_fprintf)) return Answer<int>(kRow_fprintf);
    va_list list;
    va_start(list, format);
    const int written = msvcrt_vfprintf(stream, format, list);
    va_end(list);
    return written;
  }
};

template <>
struct Wrapper<kRow_fwprintf, decltype(&::fwprintf)> {
  static int __cdecl Call(FILE* stream, const wchar_t* format, ...) {
    if (Fails(kRow_fwprintf)) return Answer<int>(kRow_fwprintf);
    va_list list;
    va_start(list, format);
    const int written = msvcrt_vfwprintf(stream, format, list);
    va_end(list);
    return written;
  }
};

// The permission argument is read only with _O_CREAT; passing it on always
// is harmless with the caller's stack cleanup.
template <>
struct Wrapper<kRow__open, decltype(&::_open)> {
  static int __cdecl Call(const char* path, int flags, ...) {
    if (Fails(kRow__open)) return Answer<int>(kRow__open);
    va_list list;
    va_start(list, flags);
    const int permission = (flags & _O_CREAT) ? va_arg(list, int) : 0;
    va_end(list);
    return reinterpret_cast<decltype(&::_open)>(real_functions[kRow__open])(path, flags, permission);
  }
};

// A write or read that moves half the bytes asked for (at least one) and
// succeeds; any other failure as the table says.
template <int RowIndex, typename Function, typename Buffer>
BOOL Transfer(HANDLE file, Buffer data, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
  const auto real = reinterpret_cast<Function>(real_functions[RowIndex]);
  if (!Fails(RowIndex)) return real(file, data, size, done, overlapped);
  if (order_failure->code != STARTER_PARTIAL_TRANSFER) return Answer<BOOL>(RowIndex);
  return real(file, data, (size + 1) / 2, done, overlapped);
}

template <>
struct Wrapper<kRow_WriteFile, decltype(&::WriteFile)> {
  static BOOL WINAPI Call(HANDLE file, LPCVOID data, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
    return Transfer<kRow_WriteFile, decltype(&::WriteFile)>(file, data, size, done, overlapped);
  }
};

template <>
struct Wrapper<kRow_ReadFile, decltype(&::ReadFile)> {
  static BOOL WINAPI Call(HANDLE file, LPVOID data, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
    return Transfer<kRow_ReadFile, decltype(&::ReadFile)>(file, data, size, done, overlapped);
  }
};

// A buffer too small is answered with the size needed, larger than the one
// given, so the caller's resizing runs.
void AskForMore(DWORD* size, long code) {
  if (size && (code == ERROR_MORE_DATA || code == ERROR_INSUFFICIENT_BUFFER)) *size = *size * 2 + 64;
}

template <>
struct Wrapper<kRow_RegQueryValueExW, decltype(&::RegQueryValueExW)> {
  static LSTATUS WINAPI Call(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (!Fails(kRow_RegQueryValueExW))
      return reinterpret_cast<decltype(&::RegQueryValueExW)>(real_functions[kRow_RegQueryValueExW])(key, name, reserved,
                                                                                                     type, data, size);
    AskForMore(size, order_failure->code);
    return Answer<LSTATUS>(kRow_RegQueryValueExW);
  }
};

template <>
struct Wrapper<kRow_GetExtendedTcpTable, GetExtendedTcpTableFn> {
  static DWORD WINAPI Call(PVOID table, PDWORD size, BOOL sorted, ULONG family, TCP_TABLE_CLASS kind, ULONG reserved) {
    if (!Fails(kRow_GetExtendedTcpTable))
      return reinterpret_cast<GetExtendedTcpTableFn>(real_functions[kRow_GetExtendedTcpTable])(table, size, sorted,
                                                                                               family, kind, reserved);
    AskForMore(size, order_failure->code);
    return Answer<DWORD>(kRow_GetExtendedTcpTable);
  }
};

// Case-insensitive equality of two ASCII module names.
bool SameModule(const char* left, const char* right) {
  for (; *left && *right; ++left, ++right) {
    const char a = *left >= 'A' && *left <= 'Z' ? static_cast<char>(*left + 32) : *left;
    const char b = *right >= 'A' && *right <= 'Z' ? static_cast<char>(*right + 32) : *right;
    if (a != b) return false;
  }
  return *left == *right;
}

extern void* const kWrappers[kRowCount];

// The wrapper of a function the program looks up, when the table routes it.
template <>
struct Wrapper<kRow_GetProcAddress, decltype(&::GetProcAddress)> {
  static FARPROC WINAPI Call(HMODULE module, LPCSTR name) {
    if (Fails(kRow_GetProcAddress)) return Answer<FARPROC>(kRow_GetProcAddress);
    const FARPROC found = get_proc_address(module, name);
    if (!found || IS_INTRESOURCE(name)) return found;
    const int row = RowNamed(name);
    if (row < 0 || !kWrappers[row] || module != get_module_handle(RowAt(row).module)) return found;
    ::InterlockedExchangePointer(&real_functions[row], reinterpret_cast<void*>(found));
    ::InterlockedOr(&counts->routing[row], kLookedUp);
    return reinterpret_cast<FARPROC>(kWrappers[row]);
  }
};

#define STARTER_WRAPPER(module, function, ...) \
  reinterpret_cast<void*>(&Wrapper<kRow_##function, decltype(&::function)>::Call),
#define STARTER_LOOKED_UP_WRAPPER(module, function, type, ...) \
  reinterpret_cast<void*>(&Wrapper<kRow_##function, type>::Call),
#define STARTER_NO_WRAPPER(module, function, why) nullptr,
void* const kWrappers[kRowCount] = {
    STARTER_FAULT_TABLE(STARTER_WRAPPER, STARTER_LOOKED_UP_WRAPPER, STARTER_NO_WRAPPER, STARTER_FAULT_E)};

// Points `slot` at `wrapper`, keeping the system's function for the wrapper.
void Route(int row, void** slot) {
  DWORD protection = 0;
  if (!::VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection)) return;
  real_functions[row] = *slot;
  *slot = kWrappers[row];
  ::VirtualProtect(slot, sizeof(*slot), protection, &protection);
  counts->routing[row] |= kImportSlot;
}

// Every import slot of this program whose function the table routes.
void RouteImports() {
  auto* const base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       library->Name != 0; ++library) {
    const char* module = reinterpret_cast<const char*>(base + library->Name);
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + library->OriginalFirstThunk);
    auto** slots = reinterpret_cast<void**>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal)) continue;
      const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      const int row = RowNamed(reinterpret_cast<const char*>(by_name->Name));
      if (row >= 0 && kWrappers[row] && SameModule(module, RowAt(row).module)) Route(row, slots);
    }
  }
}

// The counts in a mapped view of `path`: the file keeps them however the
// process ends.
void MapCounts(const wchar_t* path) {
  const HANDLE file = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, sizeof(CountFile), nullptr);
  ::CloseHandle(file);
  if (!mapping) return;
  void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(CountFile));
  ::CloseHandle(mapping);
  if (view) counts = static_cast<CountFile*>(view);
}

void ReadOrder() {
  const DWORD length = ::GetEnvironmentVariableA("STARTER_FAULT", order_text, sizeof(order_text));
  if (length == 0) return;
  order = length < sizeof(order_text) ? ParseFaultOrder(std::string_view(order_text, length)) : std::nullopt;
  order_row = order ? RowNamed(order->function) : -1;
  order_failure = order_row >= 0 ? FailureNamed(RowAt(order_row), order->failure) : nullptr;
  if (!order_failure) ::ExitProcess(kBadOrderExit);
}

void Install() {
  set_last_error = &::SetLastError;
  errno_location = &::_errno;
  get_module_handle = &::GetModuleHandleA;
  get_proc_address = &::GetProcAddress;
  get_file_attributes = &::GetFileAttributesExW;
  const DWORD log_length = ::GetEnvironmentVariableW(L"STARTER_FAULT_LOG", log_path, MAX_PATH);
  if (log_length >= MAX_PATH) log_path[0] = L'\0';
  const HMODULE msvcrt = ::GetModuleHandleA("msvcrt.dll");
  msvcrt_vfprintf = reinterpret_cast<decltype(&::vfprintf)>(reinterpret_cast<void*>(::GetProcAddress(msvcrt, "vfprintf")));
  msvcrt_vfwprintf =
      reinterpret_cast<decltype(&::vfwprintf)>(reinterpret_cast<void*>(::GetProcAddress(msvcrt, "vfwprintf")));
  wchar_t count_path[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(L"STARTER_FAULT_COUNT", count_path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) MapCounts(count_path);
  counts->log_bytes_at_fault = kNotFired;
  ReadOrder();
  RouteImports();
}

}  // namespace
}  // namespace starter::fault

// The test build's entry (-e _FaultEntry): the injector first, then the
// shipped program's own entry, whose hardening is counted and may be failed.
extern "C" __attribute__((force_align_arg_pointer, no_stack_protector)) int FaultEntry() {
  starter::fault::Install();
  starter::fault::armed = 1;
  return HardenedEntry();
}

// The runtime's start (reached from HardenedEntry, through --wrap) runs unarmed.
extern "C" __attribute__((no_stack_protector)) int __wrap_mainCRTStartup() {
  starter::fault::armed = 0;
  return __real_mainCRTStartup();
}

extern "C" int __wrap_main(int argc, char** argv, char** environment) {
  starter::fault::armed = 1;
  return __real_main(argc, argv, environment);
}
