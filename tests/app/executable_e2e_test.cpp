// The shipped executables as the system maps them (at a random address, its
// data never executed, no exception handler of its own), what it imports,
// what it says of itself (console program, version, the rights it asks
// for), and that a library planted beside it is not loaded.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
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

// A program mapped as the loader lays it out, to be read and never run.
class MappedImage {
 public:
  explicit MappedImage(const std::wstring& program)
      : module_(::LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~MappedImage() {
    if (module_) ::FreeLibrary(module_);
  }
  MappedImage(const MappedImage&) = delete;
  MappedImage& operator=(const MappedImage&) = delete;

  explicit operator bool() const { return module_ != nullptr; }
  const unsigned char* base() const {
    return reinterpret_cast<const unsigned char*>(reinterpret_cast<ULONG_PTR>(module_) & ~ULONG_PTR{3});
  }
  const IMAGE_NT_HEADERS32* nt() const {
    return reinterpret_cast<const IMAGE_NT_HEADERS32*>(base() + reinterpret_cast<const IMAGE_DOS_HEADER*>(base())->e_lfanew);
  }
  // The bytes of resource `id` of `type`; empty when there is none.
  std::string Resource(const wchar_t* type, int id) const {
    const HRSRC found = ::FindResourceW(module_, MAKEINTRESOURCEW(id), type);
    const HGLOBAL loaded = found ? ::LoadResource(module_, found) : nullptr;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    return bytes ? std::string(static_cast<const char*>(bytes), ::SizeofResource(module_, found)) : std::string();
  }

 private:
  HMODULE module_;
};

void ExpectHardenedAndImportingOnlyKnownSystemLibraries(const std::wstring& program) {
  SCOPED_TRACE(fs::path(program).filename().string());
  const MappedImage image(program);
  ASSERT_TRUE(image);
  const unsigned char* base = image.base();
  const IMAGE_NT_HEADERS32* nt = image.nt();
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
}

TEST(Executable, HardenedAndImportingOnlyKnownSystemLibraries) {
  ExpectHardenedAndImportingOnlyKnownSystemLibraries(StarterExe());
  ExpectHardenedAndImportingOnlyKnownSystemLibraries(StatusExe());
}

// Both are console programs (a caller reads the starter's line from its
// standard output), run with the rights of whoever runs them (no elevation
// prompt in front of an installer's call), and carry the product's version.
void ExpectConsoleProgramAsInvokerOfTheVersion(const std::wstring& program) {
  SCOPED_TRACE(fs::path(program).filename().string());
  const MappedImage image(program);
  ASSERT_TRUE(image);
  EXPECT_EQ(image.nt()->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
  EXPECT_THAT(image.Resource(RT_MANIFEST, 1),
              ::testing::HasSubstr(R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)"));

  const std::string version = image.Resource(RT_VERSION, 1);
  const VS_FIXEDFILEINFO signature{VS_FFI_SIGNATURE};
  const std::size_t fixed = version.find(std::string(reinterpret_cast<const char*>(&signature), 4));
  ASSERT_NE(fixed, std::string::npos);
  ASSERT_LE(fixed + sizeof(VS_FIXEDFILEINFO), version.size());
  VS_FIXEDFILEINFO info{};
  std::memcpy(&info, version.data() + fixed, sizeof(info));
  EXPECT_EQ(info.dwFileVersionMS, 0x00020003u);  // 2.3
  EXPECT_EQ(info.dwFileVersionLS, 0x00060002u);  // .6.2
  EXPECT_EQ(info.dwProductVersionMS, info.dwFileVersionMS);
  EXPECT_EQ(info.dwProductVersionLS, info.dwFileVersionLS);
  // The version's text, as Explorer shows it: "FileVersion" and "ProductVersion" in UTF-16.
  const std::wstring text = L"2.3.6.2";
  EXPECT_NE(version.find(std::string(reinterpret_cast<const char*>(text.c_str()), text.size() * 2)), std::string::npos);
}

TEST(Executable, ConsoleProgramsAsInvokerOfTheProductVersion) {
  ExpectConsoleProgramAsInvokerOfTheVersion(StarterExe());
  ExpectConsoleProgramAsInvokerOfTheVersion(StatusExe());
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
