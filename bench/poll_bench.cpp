// One readiness poll of the no-argument mode through the product's checks,
// against the same system calls written out bare.
#include <windows.h>

#include <winsock2.h>
#include <iphlpapi.h>
#include <tlhelp32.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "bench/bench_env.h"
#include "bench/benches.h"
#include "bench/figures.h"
#include "install/markers.h"
#include "app/readiness_wait.h"
#include "service/process_detection.h"
#include "support/win_test_env.h"

namespace starter::bench {
namespace {

constexpr std::uint16_t kPollPort = 47613;  // outside the shared service range
constexpr int kPollsPerSample = 100;

// The least the question needs: one read of the IPv4 listeners, into a
// buffer large enough for most machines (read again only when it is not).
bool BareListening(u_short port) {
  std::vector<unsigned char> buffer(16384);
  DWORD size = static_cast<DWORD>(buffer.size());
  DWORD result = ::GetExtendedTcpTable(buffer.data(), &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
  if (result == ERROR_INSUFFICIENT_BUFFER) {
    buffer.resize(size);
    result = ::GetExtendedTcpTable(buffer.data(), &size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  if (result != NO_ERROR) return false;
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i)
    if (ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port) return true;
  return false;
}

using QueryFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

// The 32-bit native path: basic information -> PEB -> parameters -> text.
bool BareCommandLineHasJar(DWORD process_id) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id);
  if (!process) return false;
  SYSTEM_INFO system{};
  ::GetNativeSystemInfo(&system);
  BOOL wow64 = FALSE;
  ::IsWow64Process(::GetCurrentProcess(), &wow64);
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryInformationProcess")));
  DWORD basic[6] = {}, peb[6] = {}, parameters[20] = {};
  bool found = false;
  if (query(process, 0, basic, sizeof(basic), nullptr) == 0 &&
      ::ReadProcessMemory(process, reinterpret_cast<void*>(basic[1]), peb, sizeof(peb), nullptr) &&
      ::ReadProcessMemory(process, reinterpret_cast<void*>(peb[4]), parameters, sizeof(parameters),
                          nullptr)) {
    const DWORD maximum = parameters[16] >> 16;
    auto* text = static_cast<wchar_t*>(std::calloc(maximum / 2 + 1, sizeof(wchar_t)));
    if (text && ::ReadProcessMemory(process, reinterpret_cast<void*>(parameters[17]), text, maximum, nullptr))
      found = std::wcsstr(text, L"Vantic.jar") != nullptr;
    std::free(text);
  }
  ::CloseHandle(process);
  return found;
}

bool BareServiceRunning() {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  bool found = false;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !found;
       more = ::Process32NextW(snapshot, &entry))
    found = std::wcscmp(entry.szExeFile, L"java.exe") == 0 && BareCommandLineHasJar(entry.th32ProcessID);
  ::CloseHandle(snapshot);
  return found;
}

// Which check of a poll failed, if any.
enum Failure { kNone, kListening, kService, kMarker, kFailureKinds };

Failure BarePoll(const wchar_t* marker) {
  if (!BareListening(kPollPort)) return kListening;
  if (!BareServiceRunning()) return kService;
  const bool absent =
      ::GetFileAttributesW(marker) == INVALID_FILE_ATTRIBUTES && ::GetLastError() == ERROR_FILE_NOT_FOUND;
  return absent ? kMarker : kNone;
}

Failure ProductPoll(const std::wstring& marker) {
  app::MachineProbe machine(marker);
  if (!machine.CheckPort(kPollPort).ready) return kListening;
  const platform::Expected<service::ServiceSearch> search = machine.FindService();
  if (!search.ok() || *search != service::ServiceSearch::kFound) return kService;
  return machine.MarkerPresent() ? kNone : kMarker;
}

using FailureCounts = std::array<int, kFailureKinds>;

// Milliseconds per successful poll over one sample. A poll can fail without
// a fault, which is counted and left out: the machine's TCP table, which
// other users change all the time, may grow between its size query and its
// fill. Negative when most polls failed.
template <typename Poll>
double TimePolls(Poll poll, FailureCounts& failures) {
  double total = 0;
  int succeeded = 0;
  for (int i = 0; i < kPollsPerSample; ++i) {
    Failure failure = kNone;
    const double ms = TimeMs([&] { failure = poll(); });
    ++failures[failure];
    if (failure == kNone) {
      total += ms;
      ++succeeded;
    }
  }
  return 2 * succeeded >= kPollsPerSample ? total / succeeded : -1;
}

void PrintFailures(const FailureCounts& failures) {
  int polls = 0;
  for (int count : failures) polls += count;
  std::printf("  %-44s port %d, service %d, marker %d (of %d polls)\n", "failed polls left out, by check",
              failures[kListening], failures[kService], failures[kMarker], polls);
}

// Where a poll's time goes, and how long the sleep between polls really is:
// together they set how soon a poll follows the service's marker.
void PrintBreakdown(const install::InstallLayout& layout, const Settings& settings) {
  std::vector<double> listening, service, file, sleep;
  for (int round = 0; round < settings.rounds; ++round) {
    listening.push_back(TimeMs([] { app::MachineProbe(L"").CheckPort(kPollPort); }));
    service.push_back(TimeMs([] { static_cast<void>(service::MachineProcesses().FindService()); }));
    file.push_back(TimeMs([&] { install::IsFilePresent(layout.ConnectedMarker()); }));
    sleep.push_back(TimeMs([] { ::Sleep(100); }));
  }
  PrintFigure("breakdown: the port check", listening);
  PrintFigure("breakdown: the search for a service process", service);
  PrintFigure("breakdown: IsFilePresent", file);
  PrintFigure("the 100 ms sleep between polls", sleep);
}

bool MeasurePolls(const install::InstallLayout& layout, const Settings& settings,
                  std::vector<double>& product, std::vector<double>& bare) {
  const std::wstring& marker = layout.ConnectedMarker();
  FailureCounts failures{};
  for (int round = 0; round < settings.rounds; ++round) {
    auto [a, b] = SideBySide(
        round, [&] { return TimePolls([&] { return ProductPoll(marker); }, failures); },
        [&] { return TimePolls([&] { return BarePoll(marker.c_str()); }, failures); });
    if (a < 0 || b < 0) break;
    product.push_back(a);
    bare.push_back(b);
  }
  PrintFailures(failures);
  return product.size() == static_cast<std::size_t>(settings.rounds);
}

}  // namespace

bool BenchReadinessPoll(const install::InstallLayout& layout, const Settings& settings) {
  std::printf("Readiness poll, no-argument mode (%d polls a sample, stand-in service listening)\n",
              kPollsPerSample);
  StopServices(layout);
  if (!StartListeningService(layout, kPollPort) ||
      !test::WaitFor([&] { return install::IsFilePresent(layout.ConnectedMarker()); }, 20000)) {
    std::printf("  the stand-in service did not come up\n");
    StopServices(layout);
    return false;
  }
  std::vector<double> product, bare;
  const bool measured = MeasurePolls(layout, settings, product, bare);
  if (measured) PrintBreakdown(layout, settings);
  StopServices(layout);
  if (!measured) return false;
  PrintFigure("product poll", product);
  PrintFigure("bare system calls", bare);
  return PrintRatio("product / bare", product, bare, 1.25);
}

}  // namespace starter::bench
