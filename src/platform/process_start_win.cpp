#include "platform/process_start.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/system_facts.h"

namespace starter::platform {
namespace {

// An attribute list for CreateProcessW naming the one handle the child may
// inherit: without it, a child started to inherit its output pipe would also
// inherit every other inheritable handle of the process.
class InheritOnly {
 public:
  explicit InheritOnly(HANDLE handle) : handle_(handle) {}
  ~InheritOnly() {
    if (list_) ::DeleteProcThreadAttributeList(list_);
  }
  InheritOnly(const InheritOnly&) = delete;
  InheritOnly& operator=(const InheritOnly&) = delete;

  Status Build() {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (Status made = STARTER_CALL(InitializeProcThreadAttributeList, list, 1, 0, &size); !made.ok()) return made;
    list_ = list;
    // The list keeps a pointer to the handle: it lives in this object.
    return STARTER_CALL(UpdateProcThreadAttribute, list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_,
                        sizeof(handle_), nullptr, nullptr);
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  HANDLE handle_;
  std::vector<unsigned char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

struct Pipe {
  UniqueHandle read_end;
  UniqueHandle write_end;
};

// A pipe whose write end alone can be inherited.
Expected<Pipe> MakeOutputPipe() {
  Pipe pipe;
  if (Status made = STARTER_CALL(CreatePipe, pipe.read_end.put(), pipe.write_end.put(), nullptr, 0); !made.ok())
    return made.error();
  if (Status inheritable =
          STARTER_CALL(SetHandleInformation, pipe.write_end.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
      !inheritable.ok())
    return inheritable.error();
  return pipe;
}

// A job that ends every process in it when its last handle is closed.
Expected<UniqueHandle> MakeKillOnCloseJob() {
  Expected<UniqueHandle> job = STARTER_OPEN(UniqueHandle, CreateJobObjectW, nullptr, nullptr);
  if (!job.ok()) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (Status limited = STARTER_CALL(SetInformationJobObject, job->get(), JobObjectExtendedLimitInformation, &limits,
                                    sizeof(limits));
      !limited.ok())
    return limited.error();
  return job;
}

// Puts the program, started suspended so it has started nothing yet, in a
// job of its own; everything it starts follows it there.
void PutInJob(ProgramWithOutput& started) {
  Expected<UniqueHandle> job = MakeKillOnCloseJob();
  if (!job.ok()) {
    started.job_refused = job.error();
    return;
  }
  started.job_refused = STARTER_CALL(AssignProcessToJobObject, job->get(), started.program.process());
  if (started.job_refused.ok()) started.job = std::move(*job);
}

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

bool HasOwnConsole() {
  DWORD process_id = 0;
  return ::GetConsoleProcessList(&process_id, 1) != 0;
}

namespace {
CallInProgress detached_creation;
}  // namespace

Expected<ProcessInformation> StartDetached(const std::wstring& application, std::wstring command_line) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68);
  PROCESS_INFORMATION created{};
  Status made;
  {
    // The error is taken inside: leaving the scope may change the last error.
    const CallInProgress::Scope creating(detached_creation);
    // CreateProcessW may write into the command line: it is this function's own copy.
    made = STARTER_CALL(CreateProcessW, application.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS, nullptr, nullptr, &startup, &created);
  }
  if (!made.ok()) return made.error();
  return ProcessInformation(created);
}

const CallInProgress& DetachedCreation() { return detached_creation; }

Expected<ProgramWithOutput> StartWithOutputPipe(const std::wstring& program, const std::wstring& folder,
                                                std::wstring command_line) {
  Expected<Pipe> pipe = MakeOutputPipe();
  if (!pipe.ok()) return pipe.error();
  InheritOnly inherit(pipe->write_end.get());
  if (const Status built = inherit.Build(); !built.ok()) return built.error();

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdOutput = pipe->write_end.get();
  startup.lpAttributeList = inherit.get();
  // With a console of its own the starter shares it: no console host is
  // started for the program. Without one, the program gets a console with no
  // window; without that it would open a window, and so would every console
  // program it starts.
  const DWORD console = HasOwnConsole() ? 0 : CREATE_NO_WINDOW;
  PROCESS_INFORMATION created{};
  if (Status made = STARTER_CALL(CreateProcessW, program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                 console | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr, folder.c_str(),
                                 &startup.StartupInfo, &created);
      !made.ok())
    return made.error();
  // The child has its own copy of the write end: the pipe ends when the
  // program and those it started have ended.
  ProgramWithOutput started{ProcessInformation(created), std::move(pipe->read_end), {}, {}};
  PutInJob(started);
  if (::ResumeThread(started.program.thread()) == static_cast<DWORD>(-1)) {
    const SystemError failed = LastError("ResumeThread");
    ::TerminateProcess(started.program.process(), 1);
    return failed;
  }
  return started;
}

void EndProgram(const ProgramWithOutput& started) {
  if (started.job) {
    ::TerminateJobObject(started.job.get(), 1);
  } else {
    EndProcessTree(started.program.process(), started.program.process_id());
  }
}

void EndChildrenNamed(std::wstring_view image_name) {
  const Expected<std::vector<ProcessEntry>> listed = ListProcesses();
  if (!listed.ok()) return;
  const std::uint64_t own_start = CreationTime(::GetCurrentProcess());
  for (const ProcessEntry& process : *listed) {
    if (process.parent_id != ::GetCurrentProcessId() || process.image_name != image_name) continue;
    const UniqueHandle child(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.id));
    if (child && CreationTime(child.get()) >= own_start) ::TerminateProcess(child.get(), 1);
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
  Expected<UniqueHandle> stop = STARTER_OPEN(UniqueHandle, CreateEventW, nullptr, TRUE, FALSE, nullptr);
  if (!stop.ok()) return stop.error();
  stop_ = std::move(*stop);
  // A real handle of this thread: the pseudo handle would name the watcher.
  Expected<UniqueHandle> reader = OwnThreadHandle(THREAD_TERMINATE);
  if (!reader.ok()) return reader.error();
  reader_ = std::move(*reader);
  Expected<UniqueHandle> watcher = StartThread(&ProgramDeadline::Watch, this);
  if (!watcher.ok()) return watcher.error();
  watcher_ = std::move(*watcher);
  return {};
}

unsigned __stdcall ProgramDeadline::Watch(void* deadline) {
  auto& self = *static_cast<ProgramDeadline*>(deadline);
  if (::WaitForSingleObject(self.stop_.get(), self.limit_ms_) != WAIT_TIMEOUT) return 0;
  self.expired_ = true;
  EndProgram(self.started_);
  while (::WaitForSingleObject(self.stop_.get(), kCancelGapMs) == WAIT_TIMEOUT)
    ::CancelSynchronousIo(self.reader_.get());
  return 0;
}

}  // namespace starter::platform
