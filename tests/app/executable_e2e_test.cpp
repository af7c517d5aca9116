// The shipped executables as the system maps them (at a random address, its
// data never executed, no exception handler of its own), what it imports,
// and that a library planted beside it is not loaded.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <set>

#include "support/starter_run.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;

// The PE records as a 32-bit image lays them out.
static_assert(sizeof(IMAGE_DOS_HEADER) == 64 && offsetof(IMAGE_DOS_HEADER, e_lfanew) == 60);
static_assert(sizeof(IMAGE_NT_HEADERS32) == 248 && offsetof(IMAGE_OPTIONAL_HEADER32, DllCharacteristics) == 70);
static_assert(sizeof(IMAGE_IMPORT_DESCRIPTOR) == 20);

void ExpectHardenedAndImportingOnlyKnownSystemLibraries(const std::wstring& program) {
  SCOPED_TRACE(fs::path(program).filename().string());
  // Mapped as the loader lays it out, to be read and never run.
  const HMODULE image = ::LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_TRUE(image);
  const auto* base = reinterpret_cast<const unsigned char*>(reinterpret_cast<ULONG_PTR>(image) & ~ULONG_PTR{3});
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
  ASSERT_EQ(nt->OptionalHeader.Magic, 0x10b);          // PE32: high-entropy addresses do not apply
  EXPECT_EQ(nt->FileHeader.Characteristics & 0x1, 0);  // relocations kept, so it can move
  EXPECT_EQ(nt->OptionalHeader.DllCharacteristics & 0x540, 0x540) << "DYNAMIC_BASE, NX_COMPAT, NO_SEH";

  // Windows' known DLLs: any other library is looked for beside the program first.
  const std::set<std::string> known = {
      "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "gdi32.dll",  "gdiplus.dll",
      "imagehlp.dll", "imm32.dll",   "kernel32.dll", "msctf.dll",   "msvcrt.dll", "normaliz.dll",
      "nsi.dll",      "ole32.dll",   "oleaut32.dll", "psapi.dll",   "rpcrt4.dll", "sechost.dll",
      "setupapi.dll", "shcore.dll",  "shell32.dll",  "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll"};
  std::set<std::string> imported;
  for (const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
           base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
       import->Name != 0; ++import) {
    std::string name = reinterpret_cast<const char*>(base + import->Name);
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_TRUE(known.count(name)) << name;
    imported.insert(name);
  }
  EXPECT_TRUE(imported.count("kernel32.dll"));
  ::FreeLibrary(image);
}

TEST(Executable, HardenedAndImportingOnlyKnownSystemLibraries) {
  ExpectHardenedAndImportingOnlyKnownSystemLibraries(StarterExe());
  ExpectHardenedAndImportingOnlyKnownSystemLibraries(StatusExe());
}

// wine loads its own IP helper whatever lies beside a program unless told,
// per program in the registry, to prefer a native one (WINEDLLOVERRIDES
// reaches no program that another starts). With that preference, a program
// that imports the IP helper loads the planted one; the starter must not.
class PlantedLibrary : public StarterTest {
 protected:
  void SetUp() override {
    StarterTest::SetUp();
    folder_ = ScratchDir() + L"\\planted_" + std::to_wstring(::GetCurrentProcessId());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    fs::copy_file(TestBinDir() + L"\\canary.dll", folder_ + L"\\iphlpapi.dll");
    fs::copy_file(TestBinDir() + L"\\path_tools\\netstat.exe", folder_ + L"\\netstat.exe");
    starter_exe_ = folder_ + L"\\zephra_vantic_starter.exe";
    fs::copy_file(StarterExe(), starter_exe_);
    for (const wchar_t* program : {L"netstat.exe", L"zephra_vantic_starter.exe"})
      ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, (Key(program) + L"\\DllOverrides").c_str(), L"iphlpapi",
                                  REG_SZ, L"native,builtin", sizeof(L"native,builtin")),
                ERROR_SUCCESS);
  }
  void TearDown() override {
    for (const wchar_t* program : {L"netstat.exe", L"zephra_vantic_starter.exe"})
      ::RegDeleteTreeW(HKEY_CURRENT_USER, Key(program).c_str());
    StarterTest::TearDown();
    fs::remove_all(folder_);
  }
  static std::wstring Key(const wchar_t* program) { return std::wstring(L"Software\\Wine\\AppDefaults\\") + program; }

  std::wstring folder_;
};

TEST_F(PlantedLibrary, ACanaryUnderTheIpHelpersNameBesideTheStarterIsNotLoaded) {
  const std::wstring trace = folder_ + L"\\iphlpapi.dll.loaded";
  RunProcess(folder_ + L"\\netstat.exe", L"netstat -ano");
  ASSERT_TRUE(PathExists(trace)) << "the canary is not loaded even by a program that imports it";
  ASSERT_TRUE(::DeleteFileW(trace.c_str()));

  // The port mode reads the TCP table through the system's IP helper.
  StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
  EXPECT_EQ(run.process.standard_output, kSuccess);
  EXPECT_FALSE(PathExists(trace));
}

}  // namespace
}  // namespace starter::test
