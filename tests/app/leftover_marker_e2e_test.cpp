// A connected marker from an earlier run that resists a plain deletion, with
// no service running: the read-only attribute, or another program holding
// the file. The real starter must report success only after the new service
// has written its own marker.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cwchar>

#include "platform/handles.h"
#include "support/capabilities.h"
#include "support/starter_run.h"

namespace starter::test {
namespace {

using ::testing::Contains;
using ::testing::Not;
using ::testing::StartsWith;

// file_holder.exe keeping `path` open with `sharing` (letters r, w, d) until
// the object goes.
class FileHolder {
 public:
  FileHolder(const std::wstring& path, const std::wstring& sharing) {
    const std::wstring tag = std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(::GetTickCount64());
    ready_.reset(::CreateEventW(nullptr, TRUE, FALSE, (L"holder_ready_" + tag).c_str()));
    release_.reset(::CreateEventW(nullptr, TRUE, FALSE, (L"holder_release_" + tag).c_str()));
    std::wstring command = L"\"" + TestBinDir() + L"\\file_holder.exe\" \"" + path + L"\" " + sharing +
                           L" holder_ready_" + tag + L" holder_release_" + tag;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
      return;
    process_.reset(info.hProcess);
    ::CloseHandle(info.hThread);
  }
  ~FileHolder() {
    ::SetEvent(release_.get());
    ::WaitForSingleObject(process_.get(), 30000);
  }
  bool Holding() const { return ::WaitForSingleObject(ready_.get(), 30000) == WAIT_OBJECT_0; }

 private:
  platform::UniqueHandle ready_, release_, process_;
};

// When the file at `path` was last written, on the clock of the log.
double WrittenAtMs(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  FILETIME local{};
  SYSTEMTIME time{};
  ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  ::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
  ::FileTimeToSystemTime(&local, &time);
  return LocalMs(time);
}

bool MovedAsideFileExists() {
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW((StarterTest::ConnectedMarker() + L".*.removed").c_str(), &found);
  return search != INVALID_HANDLE_VALUE && ::FindClose(search);
}

struct Leftover {
  const char* name;
  bool read_only;
  const wchar_t* sharing;  // of the program holding it; nullptr: none holds it
  const char* warning;     // the removal's line; nullptr: removed without one
};

class LeftoverMarkerRun : public StarterTest {
 protected:
  // A fresh leftover as `leftover` describes, with no service running and a fresh log.
  std::unique_ptr<FileHolder> Stage(const Leftover& leftover) {
    KillProcessesNamed(L"java.exe");
    ::SetFileAttributesW(ConnectedMarker().c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(LogFile().c_str());
    EXPECT_TRUE(WriteFileBytes(ConnectedMarker(), "{\"connected\":\"earlier run\"}"));
    if (leftover.read_only) ::SetFileAttributesW(ConnectedMarker().c_str(), FILE_ATTRIBUTE_READONLY);
    if (!leftover.sharing) return nullptr;
    auto holder = std::make_unique<FileHolder>(ConnectedMarker(), leftover.sharing);
    EXPECT_TRUE(holder->Holding());
    return holder;
  }
};

// The service writes its marker 1.5 s after it starts, long after the first
// poll: a leftover taken for its marker gives success before that.
TEST_F(LeftoverMarkerRun, SuccessComesOnlyWithTheServicesOwnMarker) {
  const Leftover leftovers[] = {
      {"read-only", true, nullptr, nullptr},
      {"held with delete sharing", false, L"rwd", nullptr},
      {"held without delete sharing", false, L"rw",
       "warning WsClientConnected.json left in place: NtCreateFile status=0xC0000043"},
  };
  for (const Leftover& leftover : leftovers) {
    SCOPED_TRACE(leftover.name);
    const std::unique_ptr<FileHolder> holder = Stage(leftover);
    StarterOutcome run = RunStarter({"--BrandleAgent", "Selkan"}, {{L"STANDIN_MARKER_DELAY_MS", L"1500"}});
    EXPECT_EQ(run.process.standard_output, kSuccess);
    const std::optional<double> answered = LoggedAt(std::string("OUTPUT->") + kSuccess);
    ASSERT_TRUE(answered.has_value());
    ASSERT_TRUE(WaitFor([] { return ReadFileBytes(ConnectedMarker()) == "{\"connected\":true}"; }, 10000));
    const double written = WrittenAtMs(ConnectedMarker());
    // The log's clock and the file system's each move in ticks (up to
    // 15.6 ms), so the same moment can read a few ms apart on the two; a
    // success taken from the leftover would come some 1,500 ms early.
    constexpr double kClockTickMs = 16;
    EXPECT_GE(*answered + kClockTickMs, written)
        << "success " << written - *answered << " ms before the service's marker";
    EXPECT_THAT(run.log, Contains("info remove WsClientConnected.json"));
    // While its holder still has it: a deletion with POSIX semantics freed
    // the name outright; without one, the file waits under a name aside.
    const bool shares_deletion = leftover.sharing && std::wcschr(leftover.sharing, L'd');
    EXPECT_EQ(MovedAsideFileExists(), shares_deletion && !DeletesWithPosixSemantics());
    if (leftover.warning) EXPECT_THAT(run.log, Contains(leftover.warning));
    else EXPECT_THAT(run.log, Not(Contains(StartsWith("warning"))));
  }
  // A leftover moved aside while held (where the system has no deletion with
  // POSIX semantics) goes once its holder lets go.
  EXPECT_TRUE(WaitFor([] { return !MovedAsideFileExists(); }));

  // The service of the last case still runs, with its marker: that marker is
  // kept and answers the next caller's first poll, even though the newly
  // launched service never writes one.
  StarterOutcome again = RunStarter({"--BrandleAgent", "Selkan"}, {{L"STANDIN_NO_MARKER", L"1"}});
  EXPECT_EQ(again.process.standard_output, kSuccess);
  EXPECT_LT(again.process.seconds, 5.0);
  EXPECT_THAT(again.log, Not(Contains("info Vantic process not exist")));
}

TEST_F(LeftoverMarkerRun, AServiceThatNeverWritesOneRunsOutOfPollsWhateverStandsThere) {
  const std::unique_ptr<FileHolder> holder = Stage({"held without delete sharing", false, L"rw", nullptr});
  StarterOutcome run = RunStarter({"--BrandleAgent", "Selkan"}, {{L"STANDIN_NO_MARKER", L"1"}});
  EXPECT_EQ(run.process.standard_output, R"({"Dravel":0,"Selkan":1})");
  EXPECT_GE(run.process.seconds, 19.0);  // 200 polls, 100 ms apart
  EXPECT_THAT(run.log, Contains("info wait ended: WsClientConnected.json not Exist"));
  EXPECT_EQ(ReadFileBytes(ConnectedMarker()), "{\"connected\":\"earlier run\"}");
}

}  // namespace
}  // namespace starter::test
