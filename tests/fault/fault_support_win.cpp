#include "fault/fault_support_win.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "support/starter_run.h"

namespace starter::test {
namespace {

constexpr std::size_t kNowhere = std::string::npos;

// The file offset of relative address `rva`, from the section that holds it; kNowhere when none does.
std::size_t FileOffset(const std::string& file, const IMAGE_NT_HEADERS32& nt, std::size_t nt_offset, DWORD rva) {
  const std::size_t first = nt_offset + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
  for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER section{};
    if (first + (i + 1) * sizeof(section) > file.size()) return kNowhere;
    std::memcpy(&section, file.data() + first + i * sizeof(section), sizeof(section));
    if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.Misc.VirtualSize)
      return rva - section.VirtualAddress + section.PointerToRawData;
  }
  return kNowhere;
}

template <typename Record>
bool ReadAt(const std::string& file, std::size_t offset, Record& record) {
  if (offset == kNowhere || offset + sizeof(Record) > file.size()) return false;
  std::memcpy(&record, file.data() + offset, sizeof(Record));
  return true;
}

std::string LowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

std::wstring FaultBuildOf(const std::wstring& program) {
  return TestBinDir() + L"\\fault" + program.substr(program.rfind(L'\\'));
}

std::wstring CountFilePath() {
  return ScratchDir() + L"\\fault_counts_" + std::to_wstring(::GetCurrentProcessId()) + L".bin";
}

Environment FaultEnvironment(const std::optional<fault::Injection>& injection) {
  Environment environment{{L"STARTER_FAULT_COUNT", CountFilePath()},
                          {L"STARTER_FAULT_LOG", StarterTest::LogFile()},
                          {L"STARTER_FAULT", std::nullopt}};
  if (injection) {
    const std::string name = injection->Name();
    environment[L"STARTER_FAULT"] = std::wstring(name.begin(), name.end());
  }
  return environment;
}

std::optional<fault::CountFile> ReadCounts() {
  const std::string bytes = ReadFileBytes(CountFilePath());
  if (bytes.size() != sizeof(fault::CountFile)) return std::nullopt;
  fault::CountFile counts;
  std::memcpy(const_cast<long*>(counts.calls), bytes.data(), sizeof(counts));
  return counts;
}

std::vector<fault::CalledFunction> CalledFunctions(const fault::CountFile& counts) {
  std::vector<fault::CalledFunction> called;
  for (int row = 0; row < fault::kRowCount; ++row) {
    if (counts.calls[row] == 0) continue;
    fault::CalledFunction function{fault::RowAt(row).function, static_cast<std::uint32_t>(counts.calls[row]), {}};
    for (const fault::Failure* failure = fault::RowAt(row).failures; failure->name; ++failure)
      function.failures.push_back(failure->name);
    called.push_back(function);
  }
  return called;
}

std::vector<std::pair<std::string, std::string>> ImportsOf(const std::wstring& path) {
  const std::string file = ReadFileBytes(path);
  std::vector<std::pair<std::string, std::string>> imports;
  IMAGE_DOS_HEADER dos{};
  IMAGE_NT_HEADERS32 nt{};
  if (!ReadAt(file, 0, dos)) return imports;
  const auto nt_offset = static_cast<std::size_t>(dos.e_lfanew);
  if (!ReadAt(file, nt_offset, nt) || nt.Signature != IMAGE_NT_SIGNATURE) return imports;
  const DWORD directory = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  IMAGE_IMPORT_DESCRIPTOR library{};
  for (std::size_t at = FileOffset(file, nt, nt_offset, directory); ReadAt(file, at, library) && library.Name != 0;
       at += sizeof(library)) {
    const std::size_t module_name = FileOffset(file, nt, nt_offset, library.Name);
    if (module_name == kNowhere) break;
    const std::string module = LowerCase(file.c_str() + module_name);
    IMAGE_THUNK_DATA32 name{};
    for (std::size_t thunk = FileOffset(file, nt, nt_offset, library.OriginalFirstThunk);
         ReadAt(file, thunk, name) && name.u1.AddressOfData != 0; thunk += sizeof(name)) {
      if (IMAGE_SNAP_BY_ORDINAL32(name.u1.Ordinal)) continue;
      const std::size_t by_name = FileOffset(file, nt, nt_offset, name.u1.AddressOfData);
      if (by_name != kNowhere) imports.emplace_back(module, file.c_str() + by_name + offsetof(IMAGE_IMPORT_BY_NAME, Name));
    }
  }
  return imports;
}

}  // namespace starter::test
