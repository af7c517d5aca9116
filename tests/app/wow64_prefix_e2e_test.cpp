// The starter in a 64-bit prefix, where it runs under WOW64 as on 64-bit
// Windows (scripts/test.sh runs this suite with STARTER_WINE_ARCH=win64; in
// the 32-bit prefix it skips). Wine 8 cannot read another process from WOW64,
// so there the starter never sees the service process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "support/starter_run.h"

namespace starter::test {
namespace {

class Wow64Prefix : public StarterTest {
 protected:
  void SetUp() override {
    const char* arch = std::getenv("STARTER_WINE_ARCH");
    if (!arch || std::string(arch) != "win64") GTEST_SKIP() << "runs in the 64-bit prefix only";
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64) << "the prefix is not 64-bit";
    StarterTest::SetUp();
  }
};

TEST_F(Wow64Prefix, PortAndUninstallModesRunFromTheX86ProgramFilesWithThePortIn64BitViewOnly) {
  ASSERT_EQ(ProgramFiles(), L"C:\\Program Files (x86)");
  StarterOutcome port_run = RunStarter({"--Dravel", "Brimvale"});
  EXPECT_EQ(port_run.process.exit_code, 0u);
  EXPECT_EQ(port_run.process.standard_output, kSuccess);
  std::optional<std::uint32_t> port = StoredServerPort(RegistryView::k64Bit);
  ASSERT_TRUE(port.has_value());
  EXPECT_THAT(port_run.log, ::testing::Contains("info start exe " + std::to_string(*port) + " ..."));
  EXPECT_EQ(StoredServerPort(RegistryView::k32Bit), std::nullopt);
  EXPECT_EQ(ReadFileBytes(InstallMarker()), "ForceInstall\r\n");

  StarterOutcome uninstall_run = RunStarter({"--BrandleAgent", "UninstallReport"});
  EXPECT_EQ(uninstall_run.process.exit_code, 0u);
  EXPECT_EQ(uninstall_run.process.standard_output, "");
  ASSERT_GE(uninstall_run.log.size(), 2u);
  EXPECT_EQ(uninstall_run.log[uninstall_run.log.size() - 2], "info Case --BrandleAgent UninstallReport");
  const std::string jar = Utf8(L"C:\\Program Files (x86)\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar");
  EXPECT_TRUE(WaitFor([&] { return RecordedCommandLines().size() == 2; }));
  for (const std::string& line : RecordedCommandLines())
    EXPECT_EQ(line, " -Djava.net.preferIPv4Stack=true -jar \"" + jar + "\"");
}

// Both waits side by side, so the suite pays for one. The service listens and
// writes its marker; only the process check cannot succeed.
TEST_F(Wow64Prefix, ProcessModesEndWithTheirTimeoutLineAfterTheWholeWait) {
  const std::vector<std::string> no_arguments, dravel = {"--BrandleAgent", "Dravel"};
  StarterOutcome runs[2];
  std::thread other([&] { runs[1] = RunStarter(dravel); });
  runs[0] = RunStarter(no_arguments);
  other.join();

  EXPECT_TRUE(PathExists(ConnectedMarker()));
  const char* expected[] = {R"({"Dravel":1,"Selkan":1})", R"({"Dravel":0,"Selkan":1})"};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(expected[i]);
    ASSERT_TRUE(runs[i].process.finished);
    EXPECT_EQ(runs[i].process.exit_code, 0u);
    EXPECT_EQ(runs[i].process.standard_output, expected[i]);
    EXPECT_GE(runs[i].process.seconds, 19.0);  // 200 polls, 100 ms apart
    ASSERT_GE(runs[i].log.size(), 2u);
    EXPECT_EQ(runs[i].log[runs[i].log.size() - 2], std::string("info OUTPUT->") + expected[i]);
    EXPECT_EQ(runs[i].log.back(), "info [ END ]\n");
  }
}

}  // namespace
}  // namespace starter::test
