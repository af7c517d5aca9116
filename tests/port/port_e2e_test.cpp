// The port selection of the real starter under wine: which programs its
// pipeline runs, and which port a listing gives the service.
#include "platform/win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "support/starter_run.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::Each;
using ::testing::Not;
using ::testing::StartsWith;

// The caller's current folder, for the life of the object; the starter
// inherits it.
class CurrentFolder {
 public:
  explicit CurrentFolder(const fs::path& folder) : saved_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~CurrentFolder() { fs::current_path(saved_); }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  fs::path saved_;
};

class PortSelectionRun : public StarterTest {
 protected:
  void SetUp() override {
    StarterTest::SetUp();
    scratch_ = fs::path(TestBinDir()) / ("port_e2e_" + std::to_string(::GetCurrentProcessId()));
    fs::remove_all(scratch_);
    fs::create_directories(scratch_ / "traces");
  }
  void TearDown() override {
    fs::remove_all(scratch_);
    StarterTest::TearDown();
  }

  static void StorePort(DWORD port) {
    platform::UniqueKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\dadevuvidi\\Corvel\\Vantic", 0,
                                nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.put(),
                                nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.get(), L"ServerPort", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&port), sizeof(port)),
              ERROR_SUCCESS);
  }

  // The programs the stand-ins ran as, one path per run.
  std::vector<fs::path> TracedPrograms() const {
    std::vector<fs::path> programs;
    for (const auto& entry : fs::directory_iterator(scratch_ / "traces")) {
      const std::string bytes = ReadFileBytes(entry.path().wstring());
      programs.emplace_back(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()),
                                         bytes.size() / sizeof(wchar_t)));
    }
    return programs;
  }

  // Runs a caller that does not wait, the stand-ins showing `listing`. The
  // service it launches never listens, so the machine's ports stay as they
  // were for the next run and for tests in other prefixes.
  StarterOutcome RunWithListing(const std::string& listing) {
    const fs::path listing_file = scratch_ / "listing.txt";
    EXPECT_TRUE(WriteFileBytes(listing_file.wstring(), listing));
    StarterOutcome run = RunStarter({"--BrandleAgent", "UninstallReport"},
                                    {{L"NETSTAT_STANDIN_LISTING", listing_file.wstring()},
                                     {L"STANDIN_TRACE", (scratch_ / "traces").wstring()},
                                     {L"STANDIN_NO_LISTEN", L"1"}});
    KillProcessesNamed(L"java.exe");
    return run;
  }

  fs::path scratch_;
};

// cmd looks in its current folder before PATH. A caller standing in a folder
// that holds a netstat.exe and a findstr.exe must not get them run.
TEST_F(PortSelectionRun, ProgramsPlantedInTheCallersFolderNeverRun) {
  const fs::path planted = scratch_ / "planted";
  fs::create_directories(planted);
  for (const char* name : {"netstat.exe", "findstr.exe"})
    fs::copy_file(fs::path(TestBinDir()) / "path_tools" / name, planted / name);

  StarterOutcome run;
  {
    CurrentFolder caller(planted);
    run = RunWithListing("");
  }
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.exit_code, 0u);
  EXPECT_THAT(run.log, Contains("info start exe 9673 ..."));

  // Both ran, each from the system folder or from PATH.
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::vector<std::wstring> expected_folders = {system, TestBinDir() + L"\\path_tools"};
  std::vector<std::wstring> names;
  for (const fs::path& program : TracedPrograms()) {
    const std::wstring folder = program.parent_path().wstring();
    EXPECT_TRUE(std::any_of(expected_folders.begin(), expected_folders.end(),
                            [&](const std::wstring& expected) {
                              return _wcsicmp(folder.c_str(), expected.c_str()) == 0;
                            }))
        << program;
    names.push_back(program.filename().wstring());
  }
  EXPECT_THAT(names, Contains(L"netstat.exe"));
  EXPECT_THAT(names, Contains(L"findstr.exe"));
}

std::string Row(const std::string& local, const std::string& foreign, const std::string& state,
                const std::string& owner) {
  return "  TCP    " + local + "   " + foreign + "   " + state + "   " + owner + "\r\n";
}

struct SelectionCase {
  const char* name;
  std::string listing;
  std::vector<std::string> lines;  // from the stored port's check to the chosen port
};

// A free port passes the bind probe and is kept, a taken one is passed over,
// in whatever language the listing speaks.
TEST_F(PortSelectionRun, ListingsGiveTheSamePortsAsBeforeInAnyLanguage) {
  const std::vector<std::string> kept = {"info start exe 9690 ..."};
  const std::vector<std::string> moved = {"info port 9690 is not available",
                                          "info start exe 9691 ..."};
  const SelectionCase cases[] = {
      {"no rows", "", kept},
      {"English listener", Row("0.0.0.0:9690", "0.0.0.0:0", "LISTENING", "4"), moved},
      {"German listener", Row("0.0.0.0:9690", "0.0.0.0:0", "ABH\x99REN", "4"), moved},
      {"French listener", Row("[::]:9690", "[::]:0", "\xB7 L'\x90" "COUTE", "4"), moved},
      {"Spanish listener", Row("0.0.0.0:9690", "0.0.0.0:0", "ESCUCHANDO", "4"), moved},
      {"closing and remote rows only",
       Row("127.0.0.1:9690", "127.0.0.1:50000", "TIME_WAIT", "0") +
           Row("10.0.0.2:50000", "10.0.0.9:9690", "ESTABLECIDO", "77"),
       kept},
  };
  for (const SelectionCase& c : cases) {
    SCOPED_TRACE(c.name);
    StorePort(9690);
    const StarterOutcome run = RunWithListing(c.listing);
    ASSERT_TRUE(run.process.finished);
    std::vector<std::string> selection;
    bool inside = false;
    for (const std::string& line : run.log) {
      inside = inside || line.rfind("info port ", 0) == 0 || line.rfind("info start exe", 0) == 0;
      if (inside) selection.push_back(line);
      if (line.rfind("info start exe", 0) == 0) break;
    }
    EXPECT_EQ(selection, c.lines);
    EXPECT_EQ(StoredServerPort(), static_cast<std::uint32_t>(c.lines == kept ? 9690 : 9691));
    EXPECT_THAT(run.log, Each(Not(StartsWith("warning"))));
  }
}

}  // namespace
}  // namespace starter::test
