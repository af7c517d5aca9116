#include "platform/system_facts.h"

#include <process.h>
#include <tlhelp32.h>

#include "platform/handles.h"

namespace starter::platform {

Expected<UniqueHandle> OwnThreadHandle(DWORD access) {
  UniqueHandle thread;
  if (Status duplicated = STARTER_CALL(DuplicateHandle, ::GetCurrentProcess(), ::GetCurrentThread(),
                                       ::GetCurrentProcess(), thread.put(), access, FALSE, 0);
      !duplicated.ok())
    return duplicated.error();
  return thread;
}

Expected<UniqueHandle> StartThread(ThreadEntry entry, void* argument) {
  const auto thread = ::_beginthreadex(nullptr, 0, entry, argument, 0, nullptr);
  if (thread == 0) return ErrnoError("_beginthreadex");
  // The runtime hands the thread's handle back as an integer.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  return UniqueHandle(reinterpret_cast<HANDLE>(thread));
}

Expected<std::vector<ProcessEntry>> ListProcesses() {
  const Expected<UniqueHandle> snapshot = STARTER_OPEN(UniqueHandle, CreateToolhelp32Snapshot, TH32CS_SNAPPROCESS, 0);
  if (!snapshot.ok()) return snapshot.error();
  std::vector<ProcessEntry> processes;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot->get(), &entry); more; more = ::Process32NextW(snapshot->get(), &entry))
    processes.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
  return processes;
}

}  // namespace starter::platform
