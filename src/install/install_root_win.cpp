#include "install/install_root.h"

#include "platform/win.h"

#include <shlobj.h>

#include <memory>

#include "log/diag_log.h"

namespace starter::install {
namespace {

struct ReleaseMalloc {
  void operator()(IMalloc* allocator) const { allocator->Release(); }
};
using ShellAllocator = std::unique_ptr<IMalloc, ReleaseMalloc>;

void ReadProgramFilesInto(wchar_t (&buffer)[MAX_PATH]) {
  IMalloc* raw_allocator = nullptr;
  if (FAILED(::SHGetMalloc(&raw_allocator))) return;
  ShellAllocator allocator(raw_allocator);

  LPITEMIDLIST folder = nullptr;
  if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAM_FILES, &folder))) return;
  // A failed conversion leaves the buffer empty, which the caller reports.
  ::SHGetPathFromIDListW(folder, buffer);
  allocator->Free(folder);
}

}  // namespace

std::wstring GetSpecialDir() {
  wchar_t buffer[MAX_PATH] = {};
  ReadProgramFilesInto(buffer);
  std::wstring root(buffer);
  if (root.empty()) log::Warn("GetSpecialDir Error");
  return root;
}

}  // namespace starter::install
