// The entry point of core_tests.exe, the Windows build of the platform-free
// tests. It ends the process with TerminateProcess instead of returning.
//
// Why: under wine (8 and 10 alike) a return from main ends in the emulator's
// exit_process, which calls the C library's exit() of the Linux process.
// Wine joins the Linux thread behind an ended Windows thread only when the
// next Windows thread ends, so the thread that ended last may still be inside
// pthread_exit() when exit() runs, and exit() racing a thread's pthread_exit()
// in one process now and then ends it with a segmentation fault. The
// StatusLineOnce tests end their racing threads an instant before the process
// ends, so on a loaded machine their runs were ended that way after every test
// had passed. TerminateProcess on the process itself takes wine's other path,
// _exit(), which runs no teardown in the Linux process; Windows ends the
// process the same way either way. What it skips, the static destructors and
// the runtime's exit handlers, the native build of the same tests runs under
// AddressSanitizer. docs/emulators.md shows the race with a minimal program.
#include <gmock/gmock.h>
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::fflush(stdout);
  std::fflush(stderr);
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(result));
  return result;
}
