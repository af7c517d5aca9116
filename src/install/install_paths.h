#pragma once
// Where the product's files lie under the install root (the 32-bit Program
// Files folder). Every relative path starts with a backslash and is appended
// to the root as it stands: no separator is added and nothing is normalised.
#include <string>

namespace starter::install {

inline constexpr wchar_t kConnectedMarkerPath[] =
    L"\\norvik\\brandle\\Corvel\\Vantic\\WsClientConnected.json";
inline constexpr wchar_t kInstallMarkerPath[] = L"\\norvik\\brandle\\Corvel\\Vantic\\ForceInstall.file";
inline constexpr wchar_t kReportMarkerPath[] = L"\\norvik\\brandle\\Corvel\\Vantic\\Report.file";
inline constexpr wchar_t kJavaRuntimePath[] = L"\\norvik\\brandle\\Corvel\\Tidewell\\jre\\bin\\java.exe";
inline constexpr wchar_t kServiceJarPath[] = L"\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar";

// The root followed by `relative`. An empty root gives an empty path: a bare
// relative path would resolve against the root of the current drive, where
// any local user could have put files of that name.
std::wstring MakeInstallPath(const std::wstring& root, const wchar_t* relative);

// Every product path of one run, built once from the install root.
struct InstallLayout {
  std::wstring root;
  std::wstring connected_marker;
  std::wstring install_marker;
  std::wstring report_marker;
  std::wstring java_runtime;
  std::wstring service_jar;
};
InstallLayout MakeInstallLayout(const std::wstring& root);

}  // namespace starter::install
