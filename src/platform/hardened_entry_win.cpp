// The entry of every program of this tree (cmake/program.cmake names it to
// the linker): it runs before the C runtime and every static initialiser, so
// that no library is loaded and no file opened before the process is
// hardened. Nothing of the runtime may be used here. The system enters with
// the stack aligned to 4 bytes; the runtime's entry expects the 16 a call
// leaves. No stack canary: the runtime draws the canary's value only once it
// runs, after this frame began.
#include "platform/process_hardening.h"

// The C runtime's own entry, which sets the runtime up, runs the static
// initialisers and then main.
extern "C" int mainCRTStartup();

extern "C" __attribute__((force_align_arg_pointer, no_stack_protector)) int HardenedEntry() {
  starter::platform::HardenProcess(starter::platform::SystemHardeningCalls());
  return mainCRTStartup();
}
