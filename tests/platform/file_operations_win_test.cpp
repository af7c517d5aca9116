// The removal against the real system. Wine refuses the deletion with POSIX
// semantics, so a file another handle holds with delete sharing is renamed
// aside, marked for deletion, and keeps that name until the holder lets go.
// And the watch that bounds renames and deletions, on a real wait of the
// thread that it cancels (wine stages no oplock).
#include "platform/file_operations.h"

#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/handles.h"
#include "platform/system_facts.h"
#include "support/capabilities.h"
#include "support/win_test_env.h"

namespace starter::platform {
namespace {

namespace fs = std::filesystem;

class HeldFileRemoval : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path().wstring() + L"\\removal " + std::to_wstring(::GetCurrentProcessId());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // The names in the folder that begin with `prefix`.
  std::vector<std::wstring> NamesStartingWith(const std::wstring& prefix) const {
    std::vector<std::wstring> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
      const std::wstring name = entry.path().filename().wstring();
      if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
    }
    return names;
  }

  std::wstring dir_;
};

// Eight consecutive lengths of the file's name: whatever the digits of the
// process id and the tick, the path it is renamed to ends, after the
// record's head, on each byte count modulo 8, the multiple of 8 among them.
TEST_F(HeldFileRemoval, AHeldFileIsMovedAsideUnderExactlyItsNewNameWhateverItsLength) {
  const std::wstring process = std::to_wstring(::GetCurrentProcessId());
  std::set<std::size_t> classes;
  for (std::size_t length = 1; length <= 8; ++length) {
    const std::wstring name(length, L'm');
    SCOPED_TRACE(length);
    const std::wstring path = dir_ + L"\\" + name;
    ASSERT_TRUE(test::WriteFileBytes(path, "leftover"));
    UniqueHandle holder(::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    const ULONGLONG before = ::GetTickCount64();
    const Status removed = RemoveFile(path);
    const ULONGLONG after = ::GetTickCount64();
    EXPECT_TRUE(removed.ok()) << Describe(removed.error());
    EXPECT_FALSE(test::PathExists(path));

    const std::vector<std::wstring> aside = NamesStartingWith(name + L".");
    if (test::DeletesWithPosixSemantics()) {  // the name went at once; nothing is renamed
      EXPECT_TRUE(aside.empty());
      continue;
    }
    ASSERT_EQ(aside.size(), 1u);
    const std::wstring head = name + L"." + process + L"-";
    const std::wstring tail = L".removed";
    ASSERT_GT(aside[0].size(), head.size() + tail.size());
    EXPECT_EQ(aside[0].substr(0, head.size()), head);
    EXPECT_EQ(aside[0].substr(aside[0].size() - tail.size()), tail);
    const std::wstring tick = aside[0].substr(head.size(), aside[0].size() - head.size() - tail.size());
    ASSERT_EQ(tick.find_first_not_of(L"0123456789"), std::wstring::npos);
    EXPECT_GE(std::stoull(tick), before);
    EXPECT_LE(std::stoull(tick), after);
    const std::size_t renamed_to = dir_.size() + 1 + aside[0].size();  // the whole path the record names
    classes.insert((offsetof(RenameRecord, file_name) + renamed_to * sizeof(wchar_t)) % 8);

    holder.reset();
    EXPECT_TRUE(test::WaitFor([&] { return !test::PathExists(dir_ + L"\\" + aside[0]); }));
  }
  if (!test::DeletesWithPosixSemantics()) {
    EXPECT_EQ(classes.size(), 4u);
  }
}

// The open answers in NTSTATUS, the folder's in Win32 errors: either way a
// name that is gone counts as absent, so no warning says it was moved aside.
TEST_F(HeldFileRemoval, ANameOrFolderThatIsGoneFailsAsAbsent) {
  const Status no_file = RemoveFile(dir_ + L"\\WsClientConnected.json");
  ASSERT_FALSE(no_file.ok());
  EXPECT_TRUE(MeansNotThere(no_file.error())) << Describe(no_file.error());
  const Status no_folder = RemoveFile(dir_ + L"\\gone\\WsClientConnected.json");
  ASSERT_FALSE(no_folder.ok());
  EXPECT_TRUE(MeansNotThere(no_folder.error())) << Describe(no_folder.error());
}

// A pipe whose reads wait until something is written: a synchronous call of
// this thread that waits as a set-information call waits for an oplock's
// break, and that CancelSynchronousIo cancels as it cancels that wait. A
// write after `deadline` ends a read the watch failed to cancel, so a
// failure cannot hang the test.
class WaitingPipe {
 public:
  explicit WaitingPipe(std::chrono::milliseconds deadline) {
    ::CreatePipe(read_end.put(), write_end_.put(), nullptr, 0);
    writer_ = std::thread([this, deadline] {
      ::WaitForSingleObject(stop_.get(), static_cast<DWORD>(deadline.count()));
      DWORD written = 0;
      ::WriteFile(write_end_.get(), "x", 1, &written, nullptr);
    });
  }
  ~WaitingPipe() {
    ::SetEvent(stop_.get());
    writer_.join();
  }
  Status Read() {
    char byte = 0;
    DWORD got = 0;
    if (::ReadFile(read_end.get(), &byte, 1, &got, nullptr)) return {};
    return LastError("ReadFile");
  }

  UniqueHandle read_end;

 private:
  UniqueHandle write_end_;
  UniqueHandle stop_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::thread writer_;
};

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(SetInformationWatch, AWaitPastTheBoundIsCancelledAndAnsweredNotNow) {
  WaitingPipe pipe(milliseconds(10000));
  const Clock::time_point start = Clock::now();
  SetInformationWatch watch(milliseconds(100));
  const Status answered = watch.Done(pipe.Read());
  const Clock::duration took = Clock::now() - start;
  ASSERT_FALSE(answered.ok());
  EXPECT_EQ(answered.error().code, kStatusCancelled);
  EXPECT_EQ(std::string(answered.error().call), "ReadFile");
  EXPECT_TRUE(MeansNotNow(answered.error()));
  EXPECT_GE(took, milliseconds(100));
  EXPECT_LT(took, milliseconds(5000));
}

// Once the watched call has returned, the watch never reaches the thread's
// next call, however long that one waits and however long the watch lives.
TEST(SetInformationWatch, AFastCallKeepsItsAnswerAndTheThreadsNextWaitIsLeftAlone) {
  SetInformationWatch watch(milliseconds(20));
  const Status failed_at_once = watch.Done(SystemError{"SetFileInformationByHandle", ERROR_ACCESS_DENIED});
  ASSERT_FALSE(failed_at_once.ok());
  EXPECT_EQ(failed_at_once.error().code, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));

  WaitingPipe pipe(milliseconds(300));  // well past the watch's bound
  const Status read = pipe.Read();
  EXPECT_TRUE(read.ok()) << Describe(read.error());
}

// A thread whose security grants no one the right to cancel its I/O, as a
// restricted token may find its own: its calls are watched all the same,
// since the watch's handle comes from the thread's pseudo handle. (The test
// asserts on its own thread: the test framework cannot open that one.)
TEST(SetInformationWatch, AThreadThatMayNotOpenItselfIsStillWatched) {
  struct Seen {
    DWORD secured = ERROR_SUCCESS;
    bool opened_by_id = false;
    Status answered;
  } seen;
  std::thread([&seen] {
    ACL nothing_granted{};
    ::InitializeAcl(&nothing_granted, sizeof(nothing_granted), ACL_REVISION);
    seen.secured = ::SetSecurityInfo(::GetCurrentThread(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                     nullptr, &nothing_granted, nullptr);
    seen.opened_by_id = UniqueHandle(::OpenThread(THREAD_TERMINATE, FALSE, ::GetCurrentThreadId())).get() != nullptr;
    WaitingPipe pipe(milliseconds(10000));
    SetInformationWatch watch(milliseconds(100));
    seen.answered = watch.Done(pipe.Read());
  }).join();
  ASSERT_EQ(seen.secured, static_cast<DWORD>(ERROR_SUCCESS));
  if (seen.opened_by_id) GTEST_SKIP() << "this system lets the thread open itself whatever its security says";
  ASSERT_FALSE(seen.answered.ok());
  EXPECT_EQ(seen.answered.error().code, kStatusCancelled);
}

}  // namespace
}  // namespace starter::platform
