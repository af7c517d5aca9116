// Owns the writers' lock of the starter's log and never lets it go, as a
// program of any account may:
//   lock_holder <ready file>
// The ready file is written once the lock is owned; the test ends the holder.
#include "log/log_settings.h"
#include "log/writers_lock.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  starter::platform::UniqueHandle mutex = starter::log::OpenWritersMutex(starter::log::kLogFile);
  if (!mutex) return 1;
  const DWORD wait = ::WaitForSingleObject(mutex.get(), 30000);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return 1;
  starter::platform::UniqueHandle ready(
      ::CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!ready) return 1;
  ready.reset();
  ::Sleep(INFINITE);
  return 0;
}
