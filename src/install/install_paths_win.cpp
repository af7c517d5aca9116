#include "install/install_paths.h"

#include <windows.h>

#include <shlobj.h>

#include <memory>

#include "log/diag_log.h"
#include "platform/system_facts.h"

namespace starter::install {
namespace {

struct ReleaseMalloc {
  void operator()(IMalloc* allocator) const { allocator->Release(); }
};
using ShellAllocator = std::unique_ptr<IMalloc, ReleaseMalloc>;

platform::SystemError ShellError(const char* call, HRESULT result) {
  return {call, static_cast<std::uint32_t>(result), platform::ErrorSpace::kHResult};
}

platform::Status ReadProgramFilesInto(wchar_t (&buffer)[MAX_PATH]) {
  IMalloc* raw_allocator = nullptr;
  if (const HRESULT result = ::SHGetMalloc(&raw_allocator); FAILED(result))
    return ShellError("SHGetMalloc", result);
  ShellAllocator allocator(raw_allocator);

  LPITEMIDLIST folder = nullptr;
  if (const HRESULT result = ::SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAM_FILES, &folder); FAILED(result))
    return ShellError("SHGetSpecialFolderLocation", result);
  // A failed conversion leaves the buffer empty, which the caller reports.
  const bool converted = ::SHGetPathFromIDListW(folder, buffer);
  const platform::SystemError failed = platform::LastError("SHGetPathFromIDListW");
  allocator->Free(folder);
  if (!converted) return failed;
  return {};
}

}  // namespace

std::wstring ReadProgramFilesFolder() {
  wchar_t buffer[MAX_PATH] = {};
  const platform::Status read = ReadProgramFilesInto(buffer);
  std::wstring root(buffer);
  if (root.empty()) {
    log::Warn("GetSpecialDir Error");
    if (!read.ok()) log::Info("{}", Describe(read.error()));
  }
  return root;
}

}  // namespace starter::install
