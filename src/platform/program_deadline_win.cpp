#include "platform/program_deadline.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/system_facts.h"

namespace starter::platform {
namespace {

// Between two cancellations of the read: long enough for a pipe whose
// writers were all ended to report its end first, so a read is cancelled
// only when something outside the search still holds the pipe.
constexpr DWORD kCancelGapMs = 100;

std::uint64_t CreationTime(HANDLE process) { return CreationTimeOf(process).value_or(0); }

// Ends `root`, which can start nothing more then, and after it the processes
// it started and theirs, found by parent id. A process counts as a child only
// when it was created after its parent: a parent id may name an earlier
// process that had the same id. Each process found stays open until the end,
// so its id cannot pass to another meanwhile.
void EndProcessTree(HANDLE root, DWORD root_id) {
  ::TerminateProcess(root, 1);
  struct Member {
    DWORD id;
    std::uint64_t created;
  };
  std::vector<Member> tree{{root_id, CreationTime(root)}};
  std::vector<UniqueHandle> held;
  Expected<std::vector<ProcessEntry>> listed = ListProcesses();
  const std::vector<ProcessEntry> processes = listed.ok() ? std::move(*listed) : std::vector<ProcessEntry>();
  const auto in_tree = [&tree](DWORD id) {
    return std::any_of(tree.begin(), tree.end(), [id](const Member& member) { return member.id == id; });
  };
  for (std::size_t parent = 0; parent < tree.size(); ++parent) {
    for (const ProcessEntry& process : processes) {
      if (process.parent_id != tree[parent].id || in_tree(process.id)) continue;
      UniqueHandle child(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.id));
      const std::uint64_t created = child ? CreationTime(child.get()) : 0;
      if (!child || created < tree[parent].created) continue;
      ::TerminateProcess(child.get(), 1);
      tree.push_back({process.id, created});
      held.push_back(std::move(child));
    }
  }
}

}  // namespace

void EndProgram(const ProgramWithOutput& started) {
  if (started.job) {
    ::TerminateJobObject(started.job.get(), 1);
  } else {
    EndProcessTree(started.program.process(), started.program.process_id());
  }
}

ProgramDeadline::~ProgramDeadline() { Stop(); }

void ProgramDeadline::Stop() {
  if (!watcher_) return;
  ::SetEvent(stop_.get());
  ::WaitForSingleObject(watcher_.get(), INFINITE);
  watcher_.reset();
}

Status ProgramDeadline::Start(std::chrono::milliseconds limit) {
  limit_ms_ = static_cast<DWORD>(limit.count());
  stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stop_) return LastError("CreateEventW");
  // A real handle of this thread: the pseudo handle would name the watcher.
  HANDLE reader = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &reader,
                         THREAD_TERMINATE, FALSE, 0))
    return LastError("DuplicateHandle");
  reader_.reset(reader);
  watcher_.reset(::CreateThread(nullptr, 0, &ProgramDeadline::Watch, this, 0, nullptr));
  if (!watcher_) return LastError("CreateThread");
  return {};
}

DWORD WINAPI ProgramDeadline::Watch(void* deadline) {
  auto& self = *static_cast<ProgramDeadline*>(deadline);
  if (::WaitForSingleObject(self.stop_.get(), self.limit_ms_) != WAIT_TIMEOUT) return 0;
  self.expired_ = true;
  EndProgram(self.started_);
  while (::WaitForSingleObject(self.stop_.get(), kCancelGapMs) == WAIT_TIMEOUT)
    ::CancelSynchronousIo(self.reader_.get());
  return 0;
}

}  // namespace starter::platform
