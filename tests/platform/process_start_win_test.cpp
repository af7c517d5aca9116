// Ending the service's process that a launch overtaken by the run's limit was
// creating, against the real system: a child started suspended, as the
// system holds the service's process until its creation returns.
#include "platform/process_start.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/handles.h"
#include "support/win_test_env.h"

namespace starter::platform {
namespace {

// A copy of a stand-in tool under `name` in a folder of its own, started
// suspended by this process; ended when the object goes.
class SuspendedChild {
 public:
  SuspendedChild(const std::wstring& folder, const std::wstring& name) : image_(folder + L"\\" + name) {
    ::CopyFileW((test::TestBinDir() + L"\\path_tools\\findstr.exe").c_str(), image_.c_str(), FALSE);
    std::wstring command_line = L"\"" + image_ + L"\" -jar Vantic.jar";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(image_.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                          CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &created))
      return;
    ::CloseHandle(created.hThread);
    process.reset(created.hProcess);
  }
  ~SuspendedChild() {
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 30000);
    process.reset();
    ::DeleteFileW(image_.c_str());
  }

  UniqueHandle process;

 private:
  std::wstring image_;
};

TEST(EndChildrenNamed, EndsASuspendedChildOfThatNameAndNoOther) {
  const std::wstring folder = test::ScratchDir() + L"\\end_children_" + std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(folder.c_str(), nullptr);
  {
    SuspendedChild service(folder, L"java.exe");
    SuspendedChild other(folder, L"other.exe");
    ASSERT_TRUE(service.process && other.process);
    EndChildrenNamed(L"java.exe");
    EXPECT_EQ(::WaitForSingleObject(service.process.get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(other.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  }
  ::RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace starter::platform
