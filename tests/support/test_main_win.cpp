// The entry of the test programs under Windows. wine 8 and 10 kill a process
// with SIGSEGV now and then when it ends while one of its threads is still
// starting (docs/emulators.md), and every test program starts one: on
// Windows GoogleTest keeps its per-thread values in a registry that starts a
// watcher thread during the first test, and a test that is skipped or takes
// a millisecond ends just then. So a test program ends only once each of its
// threads has started: the system has run the thread's TLS callbacks, which
// it does after the thread's own start and before its first code.
#include <windows.h>

#include <tlhelp32.h>

#include <atomic>

#include <gmock/gmock.h>

#include "platform/handles.h"

namespace {

std::atomic<long> started_threads{0};  // attached and not yet detached

void NTAPI CountStartedThreads(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_ATTACH) ++started_threads;
  if (reason == DLL_THREAD_DETACH) --started_threads;
}

// The threads of this process that the system lists, this one included.
long ListedThreads() {
  const starter::platform::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  long count = 0;
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
  return count;
}

// A thread's start takes milliseconds even on a loaded machine; a thread the
// system starts without callbacks must not hold the end for long.
constexpr ULONGLONG kThreadStartBoundMs = 5000;

void WaitForThreadsToStart() {
  const ULONGLONG start = ::GetTickCount64();
  while (started_threads + 1 < ListedThreads() && ::GetTickCount64() - start < kThreadStartBoundMs) ::Sleep(1);
}

}  // namespace

// Listed among the image's TLS callbacks (the C runtime's .CRT$XL* sections).
extern "C" __attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK starter_count_started_threads =
    CountStartedThreads;

int main(int argc, char** argv) {
  testing::InitGoogleMock(&argc, argv);
  const int result = RUN_ALL_TESTS();
  WaitForThreadsToStart();
  return result;
}
