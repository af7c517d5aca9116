// The removal against the real system. Wine refuses the deletion with POSIX
// semantics, so a file another handle holds with delete sharing is renamed
// aside, marked for deletion, and keeps that name until the holder lets go.
#include "platform/file_removal.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "install/markers.h"
#include "platform/handles.h"
#include "platform/rename_record.h"
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
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    UniqueHandle holder(::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    const ULONGLONG before = ::GetTickCount64();
    const Failure failed = RemoveFile(path);
    const ULONGLONG after = ::GetTickCount64();
    EXPECT_FALSE(failed) << Describe(*failed);
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
  const Failure no_file = RemoveFile(dir_ + L"\\WsClientConnected.json");
  ASSERT_TRUE(no_file);
  EXPECT_TRUE(install::MeansAbsent(*no_file)) << Describe(*no_file);
  const Failure no_folder = RemoveFile(dir_ + L"\\gone\\WsClientConnected.json");
  ASSERT_TRUE(no_folder);
  EXPECT_TRUE(install::MeansAbsent(*no_folder)) << Describe(*no_folder);
  EXPECT_FALSE(install::MeansAbsent(SystemError{"NtCreateFile", kStatusSharingViolation, ErrorSpace::kNtStatus}));
  EXPECT_FALSE(install::MeansAbsent(SystemError{"NtCreateFile", ERROR_FILE_NOT_FOUND, ErrorSpace::kNtStatus}));
}

}  // namespace
}  // namespace starter::platform
