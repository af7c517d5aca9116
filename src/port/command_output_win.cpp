#include "port/command_output.h"

#include "platform/win.h"

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "log/diag_log.h"
#include "platform/handles.h"
#include "platform/system_folders.h"
#include "port/stream_output.h"

namespace starter::port {
namespace {

using platform::UniqueHandle;

struct StreamCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using UniqueStream = std::unique_ptr<std::FILE, StreamCloser>;

// An attribute list for CreateProcessW naming the one handle the child may
// inherit: without it, a child started to inherit its output pipe would also
// inherit every other inheritable handle of the process.
class InheritOnly {
 public:
  explicit InheritOnly(HANDLE handle) : handle_(handle) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    list_ = list;
    // The list keeps a pointer to the handle: it lives in this object.
    if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_,
                                     sizeof(handle_), nullptr, nullptr)) {
      ::DeleteProcThreadAttributeList(list_);
      list_ = nullptr;
    }
  }
  ~InheritOnly() {
    if (list_) ::DeleteProcThreadAttributeList(list_);
  }
  InheritOnly(const InheritOnly&) = delete;
  InheritOnly& operator=(const InheritOnly&) = delete;

  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  HANDLE handle_;
  std::vector<unsigned char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// A pipe whose write end alone can be inherited.
bool MakeOutputPipe(UniqueHandle& read_end, UniqueHandle& write_end) {
  HANDLE read_raw = nullptr;
  HANDLE write_raw = nullptr;
  if (!::CreatePipe(&read_raw, &write_raw, nullptr, 0)) return false;
  read_end.reset(read_raw);
  write_end.reset(write_raw);
  return ::SetHandleInformation(write_raw, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

// Starts `program` with no window, its standard output `output` and no
// standard input or error: the command reads nothing, and only its output is
// wanted. Returns the process, empty when it could not be started.
UniqueHandle StartWithOutput(const std::wstring& program, const std::wstring& folder,
                             std::wstring& command_line, HANDLE output) {
  const InheritOnly inherit(output);
  if (!inherit.get()) return UniqueHandle();
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdOutput = output;
  startup.lpAttributeList = inherit.get();
  PROCESS_INFORMATION created{};
  if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, folder.c_str(),
                        &startup.StartupInfo, &created))
    return UniqueHandle();
  const UniqueHandle thread(created.hThread);
  return UniqueHandle(created.hProcess);
}

// The read end as a text-mode stream, as the runtime's command pipe reads:
// each CR LF arrives as one newline. The stream owns the handle once made.
UniqueStream TextStreamOf(UniqueHandle& read_end) {
  const int descriptor =
      _open_osfhandle(reinterpret_cast<std::intptr_t>(read_end.get()), _O_RDONLY | _O_TEXT);
  if (descriptor == -1) return UniqueStream();
  read_end.release();
  UniqueStream stream(_fdopen(descriptor, "rt"));
  if (!stream) _close(descriptor);
  return stream;
}

std::wstring FromAnsi(const char* text) {
  const int size = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 1), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), size);
  wide.resize(wide.size() - 1);  // the terminating NUL
  return wide;
}

}  // namespace

bool ReadProgramOutput(const std::wstring& program, const std::wstring& folder,
                       std::wstring command_line, std::string& output) {
  UniqueHandle read_end;
  UniqueHandle write_end;
  UniqueHandle process;
  if (MakeOutputPipe(read_end, write_end))
    process = StartWithOutput(program, folder, command_line, write_end.get());
  // The child has its own copy of the write end: the pipe ends when the
  // command and the programs it started have ended.
  write_end.reset();
  if (!process) {
    log::Info("popen error");
    return false;
  }
  UniqueStream stream = TextStreamOf(read_end);
  const bool read = stream && AppendStreamOutput(stream.get(), output);
  if (!stream) log::Info("read pipe error");
  // Closed before the wait, so a command whose output was not read to its
  // end cannot block on a full pipe.
  stream.reset();
  read_end.reset();
  ::WaitForSingleObject(process.get(), INFINITE);
  return read;
}

bool ReadCommandOutput(const char* command_line, std::string& output) {
  const std::wstring system = platform::SystemDirectory();
  if (system.empty()) {
    // Without it, "\cmd.exe" would name a file at the root of the current drive.
    log::Info("popen error");
    return false;
  }
  return ReadProgramOutput(system + L"\\cmd.exe", system, L"cmd.exe /c " + FromAnsi(command_line),
                           output);
}

}  // namespace starter::port
