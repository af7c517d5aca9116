#include "install/install_paths.h"

#include <cwchar>

namespace starter::install {

std::wstring MakeInstallPath(const std::wstring& root, const wchar_t* relative) {
  if (root.empty()) return {};
  std::wstring path;
  path.reserve(root.size() + std::wcslen(relative));
  path += root;
  path += relative;
  return path;
}

InstallLayout MakeInstallLayout(const std::wstring& root) {
  return {root,
          MakeInstallPath(root, kConnectedMarkerPath),
          MakeInstallPath(root, kInstallMarkerPath),
          MakeInstallPath(root, kReportMarkerPath),
          MakeInstallPath(root, kJavaRuntimePath),
          MakeInstallPath(root, kServiceJarPath)};
}

}  // namespace starter::install
