// A stand-in for the Vantic service, for tests only. Copied as java.exe into a
// test install tree, it does what the starter relies on a real service doing:
// it listens on the port stored in the registry and writes the connected marker
// beside the jar named on its command line. It never runs forever.
//
// Settings come from the environment, which the starter passes on:
//   STANDIN_RECORD           file to which the full command line (UTF-8) and
//                            "\n" are appended, as the first act
//   STANDIN_LISTEN_DELAY_MS  wait before listening (default 0)
//   STANDIN_NO_LISTEN=1      do not listen
//   STANDIN_MARKER_DELAY_MS  further wait before writing the marker (default 0)
//   STANDIN_NO_MARKER=1      do not write WsClientConnected.json
//   STANDIN_MARKER_STAMP     file into which, right after the marker is written
//                            and closed, the QueryPerformanceCounter value is
//                            written in decimal (the counter is machine-wide,
//                            so a caller can time how soon it learns of it)
//   STANDIN_LIFETIME_MS      time from start to exit (default 120000)
//   STANDIN_SELF_REPORT      file into which, at its start, it writes how it
//                            was started as it sees it: "console: none" or
//                            "console: shared", "folder: " and its current
//                            folder (UTF-8), each line ending in "\n"
//   STANDIN_SET_EVENT        decimal value of an inheritable event handle of
//                            the test that ran the starter: set at once, which
//                            it can be only when it reached this process
//   STANDIN_REWRITE_COMMAND_LINE  right after recording, damages this process's
//                            own command-line record as a process may after it
//                            started: no_nul, no_nul_cut, unmapped,
//                            unreadable or zero_length (see
//                            command_line_rewrite.h); the
//                            marker path is taken from the line before that
// The port is the REG_DWORD ServerPort under
// HKLM\SOFTWARE\dadevuvidi\Corvel\Vantic (64-bit view); a missing value or 0
// means no listening. The listener is 127.0.0.1 over IPv4; connections are
// accepted and closed at once.
#include <windows.h>

#include <winsock2.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/winsock.h"
#include "tools/command_line_rewrite.h"

namespace {

using starter::platform::UniqueHandle;
using starter::platform::UniqueKey;

std::optional<std::wstring> Environment(const wchar_t* name) {
  wchar_t value[32768];
  DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
  if (length == 0 || length >= 32768) return std::nullopt;
  return std::wstring(value, length);
}

ULONGLONG Milliseconds(const wchar_t* name, ULONGLONG fallback) {
  std::optional<std::wstring> value = Environment(name);
  return value ? std::wcstoull(value->c_str(), nullptr, 10) : fallback;
}

bool IsSet(const wchar_t* name) { return Environment(name) == L"1"; }

std::string Utf8(const std::wstring& text) {
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
  return bytes;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

// Several stand-ins may record at once; appends from separate processes lose
// lines under wine unless they take turns.
void AppendRecord(const std::wstring& path) {
  UniqueHandle turn(::CreateMutexW(nullptr, FALSE, L"starter_standin_service_record"));
  if (turn) ::WaitForSingleObject(turn.get(), 30000);
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file && ::SetFilePointer(file.get(), 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER)
    WriteAll(file.get(), Utf8(::GetCommandLineW()) + "\n");
  if (turn) ::ReleaseMutex(turn.get());
}

DWORD StoredPort() {
  UniqueKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\dadevuvidi\\Corvel\\Vantic", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
    return 0;
  DWORD type = 0, value = 0, size = sizeof(value);
  if (::RegQueryValueExW(key.get(), L"ServerPort", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS || type != REG_DWORD)
    return 0;
  return value;
}

// Blank-separated arguments, double quotes grouping and dropped; the launches
// under test never escape a quote.
std::vector<std::wstring> SplitCommandLine(const std::wstring& text) {
  std::vector<std::wstring> arguments;
  std::wstring current;
  bool quoted = false, started = false;
  for (wchar_t c : text) {
    if (c == L'"') {
      quoted = !quoted;
      started = true;
    } else if ((c == L' ' || c == L'\t') && !quoted) {
      if (started) arguments.push_back(current);
      current.clear();
      started = false;
    } else {
      current += c;
      started = true;
    }
  }
  if (started) arguments.push_back(current);
  return arguments;
}

std::optional<std::wstring> MarkerPath() {
  std::vector<std::wstring> arguments = SplitCommandLine(::GetCommandLineW());
  auto jar = std::find(arguments.begin(), arguments.end(), L"-jar");
  if (jar == arguments.end() || ++jar == arguments.end()) return std::nullopt;
  size_t slash = jar->find_last_of(L"\\/");
  std::wstring folder = slash == std::wstring::npos ? L"" : jar->substr(0, slash + 1);
  return folder + L"WsClientConnected.json";
}

void WriteMarker(const std::optional<std::wstring>& path) {
  if (!path) return;
  UniqueHandle file(::CreateFileW(path->c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) WriteAll(file.get(), "{\"connected\":true}");
}

void ReportSelf(const std::wstring& path) {
  DWORD console_process = 0;
  const bool console = ::GetConsoleProcessList(&console_process, 1) != 0;
  wchar_t folder[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, folder);
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file)
    WriteAll(file.get(), std::string("console: ") + (console ? "shared" : "none") + "\nfolder: " + Utf8(folder) + "\n");
}

void StampMarker(const std::wstring& path) {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) WriteAll(file.get(), std::to_string(now.QuadPart));
}

class Listener {
 public:
  void Open(DWORD port) {
    socket_.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket_) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(socket_.get(), SOMAXCONN) != 0)
      socket_.reset();
  }

  // Until the given tick, accepts and closes connections, or only waits when
  // there is nothing to listen on.
  void ServeUntil(ULONGLONG until) const {
    for (ULONGLONG now = ::GetTickCount64(); now < until; now = ::GetTickCount64()) {
      auto slice = static_cast<long>(std::min<ULONGLONG>(until - now, 200));
      if (!socket_) {
        ::Sleep(static_cast<DWORD>(slice));
        continue;
      }
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(socket_.get(), &readable);
      timeval timeout{0, slice * 1000};
      if (::select(0, &readable, nullptr, nullptr, &timeout) == 1) {
        const starter::platform::UniqueSocket client(::accept(socket_.get(), nullptr, nullptr));  // closed at once
      }
    }
  }

 private:
  starter::platform::UniqueSocket socket_;
};

}  // namespace

int main() {
  ULONGLONG start = ::GetTickCount64();
  if (std::optional<std::wstring> record = Environment(L"STANDIN_RECORD")) AppendRecord(*record);
  if (std::optional<std::wstring> event = Environment(L"STANDIN_SET_EVENT"))
    ::SetEvent(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(event->c_str(), nullptr, 10))));
  if (std::optional<std::wstring> report = Environment(L"STANDIN_SELF_REPORT")) ReportSelf(*report);
  const std::optional<std::wstring> marker = MarkerPath();
  if (std::optional<std::wstring> how = Environment(L"STANDIN_REWRITE_COMMAND_LINE"))
    if (!standin::RewriteOwnCommandLine(*how)) return 2;
  ULONGLONG deadline = start + Milliseconds(L"STANDIN_LIFETIME_MS", 120000);
  ULONGLONG listen_at = std::min(deadline, start + Milliseconds(L"STANDIN_LISTEN_DELAY_MS", 0));
  ULONGLONG marker_at = std::min(deadline, listen_at + Milliseconds(L"STANDIN_MARKER_DELAY_MS", 0));

  const starter::platform::WinsockSession winsock;
  if (winsock.Result() != 0) return 1;
  Listener listener;
  listener.ServeUntil(listen_at);
  DWORD port = StoredPort();
  if (!IsSet(L"STANDIN_NO_LISTEN") && port != 0 && port <= 0xFFFF) listener.Open(port);
  listener.ServeUntil(marker_at);
  if (!IsSet(L"STANDIN_NO_MARKER") && ::GetTickCount64() < deadline) {
    WriteMarker(marker);
    if (std::optional<std::wstring> stamp = Environment(L"STANDIN_MARKER_STAMP")) StampMarker(*stamp);
  }
  listener.ServeUntil(deadline);
  return 0;
}
