#include "install/install_paths.h"

#include <gtest/gtest.h>

namespace starter::install {
namespace {

TEST(InstallPaths, RootIsJoinedAsItStands) {
  InstallLayout layout = MakeInstallLayout(L"D:\\Programme (x86)");
  EXPECT_EQ(layout.ConnectedMarker(), L"D:\\Programme (x86)\\norvik\\brandle\\Corvel\\Vantic\\WsClientConnected.json");
  EXPECT_EQ(layout.markers[1], L"D:\\Programme (x86)\\norvik\\brandle\\Corvel\\Vantic\\ForceInstall.file");
  EXPECT_EQ(layout.markers[2], L"D:\\Programme (x86)\\norvik\\brandle\\Corvel\\Vantic\\Report.file");
  EXPECT_EQ(layout.java_runtime, L"D:\\Programme (x86)\\norvik\\brandle\\Corvel\\Tidewell\\jre\\bin\\java.exe");
  EXPECT_EQ(layout.service_jar, L"D:\\Programme (x86)\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar");
}

TEST(InstallPaths, EmptyRootGivesNoPathRatherThanADriveRootedOne) {
  InstallLayout layout = MakeInstallLayout(L"");
  EXPECT_TRUE(layout.ConnectedMarker().empty());
  EXPECT_TRUE(layout.markers[1].empty());
  EXPECT_TRUE(layout.markers[2].empty());
  EXPECT_TRUE(layout.java_runtime.empty());
  EXPECT_TRUE(layout.service_jar.empty());
}

}  // namespace
}  // namespace starter::install
