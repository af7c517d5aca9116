#include "install/install_paths.h"

namespace starter::install {

InstallLayout MakeInstallLayout(const std::wstring& root) {
  const std::string vantic_folder = std::string(contract::kVanticFolder) + "\\";
  InstallLayout layout{root, contract::UnderRoot(root, contract::kJavaRuntime),
                       contract::UnderRoot(root, vantic_folder + contract::kServiceJarName), {}};
  for (std::size_t i = 0; i < contract::kMarkerCount; ++i)
    layout.markers[i] = contract::UnderRoot(root, vantic_folder + contract::kMarkerFiles[i].name);
  return layout;
}

}  // namespace starter::install
