// The starter in a 64-bit prefix, where it runs under WOW64 as on 64-bit
// Windows (scripts/test.sh runs this suite with STARTER_WINE_ARCH=win64; in
// the 32-bit prefix it skips). It sees the service process only where the
// system lets a WOW64 process read another process's memory (64-bit Windows,
// wine 10); elsewhere (wine 8) the process modes run out of their wait.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "support/capabilities.h"
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

  // The no-argument and --BrandleAgent Dravel modes side by side, so the
  // suite pays for one wait. The service listens and writes its marker: only
  // the process check is in question. Where this system lets the starter read
  // the service's memory from WOW64, both succeed as soon as the marker is
  // there; where it does not, both end with their timeout line after the
  // whole wait.
  void RunBothAndCheck() {
    const std::vector<std::string> no_arguments, dravel = {"--BrandleAgent", "Dravel"};
    StarterOutcome runs[2];
    std::thread other([&] { runs[1] = RunStarter(dravel); });
    runs[0] = RunStarter(no_arguments);
    other.join();

    EXPECT_TRUE(PathExists(ConnectedMarker()));
    const bool seen = ReadsProcessesFromWow64();
    const char* timeouts[] = {R"({"Dravel":1,"Selkan":1})", R"({"Dravel":0,"Selkan":1})"};
    for (int i = 0; i < 2; ++i) {
      const std::string expected = seen ? kSuccess : timeouts[i];
      SCOPED_TRACE(expected);
      ASSERT_TRUE(runs[i].process.finished);
      EXPECT_EQ(runs[i].process.exit_code, 0u);
      EXPECT_EQ(runs[i].process.standard_output, expected);
      if (seen) EXPECT_LT(runs[i].process.seconds, 10.0);
      else EXPECT_GE(runs[i].process.seconds, 19.0);  // 200 polls, 100 ms apart
      ASSERT_GE(runs[i].log.size(), 2u);
      EXPECT_EQ(runs[i].log[runs[i].log.size() - 2], "info OUTPUT->" + expected);
      EXPECT_EQ(runs[i].log.back(), "info [ END ]\n");
    }
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

// The stand-in as a 32-bit program, itself under WOW64.
TEST_F(Wow64Prefix, ProcessModesSeeA32BitServiceWhereTheSystemLetsThemReadIt) {
  RunBothAndCheck();
}

// A 64-bit service, as a 64-bit Java runtime is on 64-bit Windows: its
// command line lies in memory only the WOW64 reads reach.
TEST_F(Wow64Prefix, ProcessModesSeeA64BitServiceWhereTheSystemLetsThemReadIt) {
  ASSERT_TRUE(::CopyFileW((TestBinDir() + L"\\standin_service64.exe").c_str(), JavaExe().c_str(), FALSE));
  DWORD kind = 0;
  ASSERT_TRUE(::GetBinaryTypeW(JavaExe().c_str(), &kind) && kind == SCS_64BIT_BINARY);
  RunBothAndCheck();
}

}  // namespace
}  // namespace starter::test
