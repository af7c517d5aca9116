#pragma once
// Where the product's files lie under the install root (the 32-bit Program
// Files folder), built once a run from the names the product shares.
#include <array>
#include <string>

#include "contract/product_contract.h"

namespace starter::install {

// Every product path of one run. All are empty when the root is: a bare
// relative path would resolve against the root of the current drive, where
// any local user could have put files of that name.
struct InstallLayout {
  std::wstring root;
  std::wstring java_runtime;
  std::wstring service_jar;
  std::array<std::wstring, contract::kMarkerCount> markers;  // in the order of contract::kMarkerFiles

  const std::wstring& ConnectedMarker() const { return markers[contract::kConnectedMarkerIndex]; }
};
inline InstallLayout MakeInstallLayout(const std::wstring& root) {
  const std::string vantic_folder = std::string(contract::kVanticFolder) + "\\";
  InstallLayout layout{root, contract::UnderRoot(root, contract::kJavaRuntime),
                       contract::UnderRoot(root, vantic_folder + contract::kServiceJarName), {}};
  for (std::size_t i = 0; i < contract::kMarkerCount; ++i)
    layout.markers[i] = contract::UnderRoot(root, vantic_folder + contract::kMarkerFiles[i].name);
  return layout;
}

// The Program Files folder as the shell reports it to this 32-bit process
// (on 64-bit Windows the x86 one), without a trailing backslash; empty, with
// the warning "GetSpecialDir Error", when the shell cannot tell.
std::wstring ReadProgramFilesFolder();

}  // namespace starter::install
