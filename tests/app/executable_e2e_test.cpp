// The shipped executable as a file: how the system maps it (at a random
// address, its data never executed, no exception handler of its own), which
// libraries it imports, and that none planted beside it is loaded.
#include "platform/win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>

#include "support/starter_run.h"

namespace starter::test {
namespace {

namespace fs = std::filesystem;

// The PE records as a 32-bit image lays them out in the file.
static_assert(sizeof(IMAGE_DOS_HEADER) == 64 && offsetof(IMAGE_DOS_HEADER, e_lfanew) == 60);
static_assert(sizeof(IMAGE_FILE_HEADER) == 20);
static_assert(sizeof(IMAGE_OPTIONAL_HEADER32) == 224 && offsetof(IMAGE_OPTIONAL_HEADER32, DllCharacteristics) == 70 &&
              offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory) == 96);
static_assert(sizeof(IMAGE_NT_HEADERS32) == 248 && sizeof(IMAGE_SECTION_HEADER) == 40);
static_assert(sizeof(IMAGE_IMPORT_DESCRIPTOR) == 20);

class PeFile {
 public:
  explicit PeFile(std::string bytes) : bytes_(std::move(bytes)) {
    const auto dos = Read<IMAGE_DOS_HEADER>(0);
    const auto nt = dos ? Read<IMAGE_NT_HEADERS32>(static_cast<size_t>(dos->e_lfanew)) : std::nullopt;
    if (!nt || dos->e_magic != IMAGE_DOS_SIGNATURE || nt->Signature != IMAGE_NT_SIGNATURE) return;
    headers_ = *nt;
    size_t section = static_cast<size_t>(dos->e_lfanew) + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                     nt->FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, section += sizeof(IMAGE_SECTION_HEADER))
      if (auto header = Read<IMAGE_SECTION_HEADER>(section)) sections_.push_back(*header);
  }

  const std::optional<IMAGE_NT_HEADERS32>& Headers() const { return headers_; }

  // The names of the imported libraries, lower case.
  std::set<std::string> ImportedLibraries() const {
    std::set<std::string> names;
    const IMAGE_DATA_DIRECTORY& imports = headers_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (DWORD at = imports.VirtualAddress;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
      const auto descriptor = Read<IMAGE_IMPORT_DESCRIPTOR>(FileOffset(at));
      if (!descriptor || descriptor->Name == 0) return names;
      std::string name = String(FileOffset(descriptor->Name));
      std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
      names.insert(name);
    }
  }

 private:
  template <typename Record>
  std::optional<Record> Read(size_t offset) const {
    if (offset > bytes_.size() || bytes_.size() - offset < sizeof(Record)) return std::nullopt;
    Record record;
    std::memcpy(&record, bytes_.data() + offset, sizeof(Record));
    return record;
  }
  // Where the image's address `rva` lies in the file; past the end when nowhere.
  size_t FileOffset(DWORD rva) const {
    for (const IMAGE_SECTION_HEADER& s : sections_)
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.SizeOfRawData)
        return s.PointerToRawData + (rva - s.VirtualAddress);
    return bytes_.size();
  }
  std::string String(size_t offset) const {
    if (offset >= bytes_.size()) return {};
    return std::string(bytes_.c_str() + offset, strnlen(bytes_.c_str() + offset, bytes_.size() - offset));
  }

  std::string bytes_;
  std::optional<IMAGE_NT_HEADERS32> headers_;
  std::vector<IMAGE_SECTION_HEADER> sections_;
};

TEST(Executable, MappedAtARandomAddressWithoutExecutableDataAndNoHandlerOfItsOwn) {
  const PeFile starter(ReadFileBytes(StarterExe()));
  ASSERT_TRUE(starter.Headers());
  const IMAGE_NT_HEADERS32& headers = *starter.Headers();
  EXPECT_EQ(headers.FileHeader.Machine, 0x14c);       // i386
  EXPECT_EQ(headers.OptionalHeader.Magic, 0x10b);     // PE32: high-entropy addresses do not apply
  EXPECT_EQ(headers.FileHeader.Characteristics & 0x1, 0);  // relocations kept, so it can move
  EXPECT_GT(headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);
  const WORD characteristics = headers.OptionalHeader.DllCharacteristics;
  EXPECT_TRUE(characteristics & 0x40) << "DYNAMIC_BASE (ASLR)";
  EXPECT_TRUE(characteristics & 0x100) << "NX_COMPAT (DEP)";
  EXPECT_TRUE(characteristics & 0x400) << "NO_SEH";
}

// A library that is not one of the system's known DLLs would be looked for
// beside the program first.
TEST(Executable, ImportsOnlyKnownSystemLibraries) {
  const std::set<std::string> known = {
      "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "gdi32.dll",  "gdiplus.dll",
      "imagehlp.dll", "imm32.dll",   "kernel32.dll", "msctf.dll",   "msvcrt.dll", "normaliz.dll",
      "nsi.dll",      "ole32.dll",   "oleaut32.dll", "psapi.dll",   "rpcrt4.dll", "sechost.dll",
      "setupapi.dll", "shcore.dll",  "shell32.dll",  "shlwapi.dll", "user32.dll", "wldap32.dll",
      "ws2_32.dll"};
  const PeFile starter(ReadFileBytes(StarterExe()));
  ASSERT_TRUE(starter.Headers());
  const std::set<std::string> imported = starter.ImportedLibraries();
  EXPECT_TRUE(imported.count("kernel32.dll"));
  for (const std::string& library : imported) EXPECT_TRUE(known.count(library)) << library;
}

// wine loads its own IP helper whatever lies beside a program unless told
// to prefer a native one (for each program, in the registry: wine reads
// WINEDLLOVERRIDES only from its Unix environment). With that preference, a
// program that imports the IP helper loads the planted one; the starter must not.
class PlantedLibrary : public StarterTest {
 protected:
  void SetUp() override {
    StarterTest::SetUp();
    folder_ = TestBinDir() + L"\\planted_" + std::to_wstring(::GetCurrentProcessId());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    fs::copy_file(TestBinDir() + L"\\canary.dll", folder_ + L"\\iphlpapi.dll");
    fs::copy_file(StarterExe(), folder_ + L"\\zephra_vantic_starter.exe");
    fs::copy_file(TestBinDir() + L"\\path_tools\\netstat.exe", folder_ + L"\\netstat.exe");
    starter_exe_ = folder_ + L"\\zephra_vantic_starter.exe";
    for (const wchar_t* program : kPrograms)
      ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, OverridesKey(program).c_str(), L"iphlpapi", REG_SZ,
                                  kNativeFirst, sizeof(kNativeFirst)),
                ERROR_SUCCESS);
  }
  void TearDown() override {
    for (const wchar_t* program : kPrograms)
      ::RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Wine\\AppDefaults\\" + std::wstring(program)).c_str());
    StarterTest::TearDown();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  static std::wstring OverridesKey(const wchar_t* program) {
    return L"Software\\Wine\\AppDefaults\\" + std::wstring(program) + L"\\DllOverrides";
  }
  std::wstring Trace() const { return folder_ + L"\\iphlpapi.dll.loaded"; }

  static constexpr const wchar_t* kPrograms[] = {L"netstat.exe", L"zephra_vantic_starter.exe"};
  static constexpr wchar_t kNativeFirst[] = L"native,builtin";
  std::wstring folder_;
};

TEST_F(PlantedLibrary, ACanaryUnderTheIpHelpersNameBesideTheStarterIsNotLoaded) {
  // The canary works: a program that imports the IP helper loads it.
  RunProcess(folder_ + L"\\netstat.exe", L"netstat -ano");
  ASSERT_TRUE(PathExists(Trace()));
  ASSERT_TRUE(::DeleteFileW(Trace().c_str()));

  // The port mode reads the TCP table through the system's IP helper.
  StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
  EXPECT_EQ(run.process.exit_code, 0u);
  EXPECT_EQ(run.process.standard_output, kSuccess);
  EXPECT_FALSE(PathExists(Trace()));
}

}  // namespace
}  // namespace starter::test
