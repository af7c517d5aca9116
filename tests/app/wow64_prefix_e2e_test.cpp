// The starter in a 64-bit prefix, where it runs under WOW64 as on 64-bit
// Windows. Run by scripts/test.sh in a session of its own
// (STARTER_WINE_ARCH=win64); in the 32-bit prefix these tests skip. Wine 8
// has no WOW64 reads of other processes, so there the starter never sees the
// service process: the modes that wait for it run out of polls.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "support/starter_run.h"

namespace starter::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;

constexpr char kSuccess[] = R"({"Dravel":0,"Selkan":0})";
constexpr wchar_t kX86ProgramFiles[] = L"C:\\Program Files (x86)";

class Wow64Prefix : public StarterTest {
 protected:
  void SetUp() override {
    const char* arch = std::getenv("STARTER_WINE_ARCH");
    if (!arch || std::string(arch) != "win64") GTEST_SKIP() << "runs in the 64-bit prefix only";
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64) << "the prefix is not 64-bit";
    StarterTest::SetUp();
  }

  static std::string X86Path(const std::string& relative) { return Utf8(kX86ProgramFiles) + relative; }
};

TEST_F(Wow64Prefix, PortModeRunsFromTheX86ProgramFilesAndStoresThePortIn64BitViewOnly) {
  ASSERT_EQ(ProgramFiles(), kX86ProgramFiles);
  StarterOutcome run = RunStarter({"--Dravel", "Brimvale"});
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.exit_code, 0u);
  EXPECT_EQ(run.process.standard_output, kSuccess);

  const std::string jar = X86Path("\\norvik\\brandle\\Corvel\\Vantic\\Vantic.jar");
  EXPECT_THAT(run.log, Contains("info cmd->\"" + X86Path("\\norvik\\brandle\\Corvel\\Tidewell\\jre\\bin\\java.exe") +
                                "\" -Djava.net.preferIPv4Stack=true -jar \"" + jar + "\""));
  EXPECT_THAT(RecordedCommandLines(), ElementsAre(" -Djava.net.preferIPv4Stack=true -jar \"" + jar + "\""));
  EXPECT_EQ(ReadFileBytes(InstallMarker()), "ForceInstall\r\n");
  EXPECT_EQ(ReadFileBytes(ReportMarker()), "Report\r\n");

  std::optional<std::uint32_t> port = StoredServerPort(KEY_WOW64_64KEY);
  ASSERT_TRUE(port.has_value());
  EXPECT_THAT(run.log, Contains("info start exe " + std::to_string(*port) + " ..."));
  EXPECT_EQ(StoredServerPort(KEY_WOW64_32KEY), std::nullopt);
}

TEST_F(Wow64Prefix, UninstallModeLaunchesAndPrintsNothing) {
  StarterOutcome run = RunStarter({"--BrandleAgent", "UninstallReport"});
  ASSERT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.exit_code, 0u);
  EXPECT_EQ(run.process.standard_output, "");
  ASSERT_GE(run.log.size(), 2u);
  EXPECT_EQ(run.log[run.log.size() - 2], "info Case --BrandleAgent UninstallReport");
  EXPECT_EQ(run.log.back(), "info [ END ]\n");
  EXPECT_TRUE(WaitFor([&] { return RecordedCommandLines().size() == 1; }));
}

// Both waits side by side, so the suite pays for one 20 s wait. The service
// listens and writes its marker; only the process check cannot succeed.
TEST_F(Wow64Prefix, ProcessModesEndWithTheirTimeoutLineAfterTheWholeWait) {
  struct Caller {
    std::vector<std::string> arguments;
    const char* expected;
    StarterOutcome run;
  };
  std::vector<Caller> callers = {{{}, R"({"Dravel":1,"Selkan":1})", {}},
                                 {{"--BrandleAgent", "Dravel"}, R"({"Dravel":0,"Selkan":1})", {}}};
  std::vector<std::thread> threads;
  for (Caller& caller : callers) threads.emplace_back([&] { caller.run = RunStarter(caller.arguments); });
  for (std::thread& thread : threads) thread.join();

  EXPECT_TRUE(PathExists(ConnectedMarker()));
  for (const Caller& caller : callers) {
    SCOPED_TRACE(caller.expected);
    ASSERT_TRUE(caller.run.process.finished);
    EXPECT_EQ(caller.run.process.exit_code, 0u);
    EXPECT_EQ(caller.run.process.standard_output, caller.expected);
    EXPECT_GE(caller.run.process.seconds, 19.0);  // 200 polls, 100 ms apart
    ASSERT_GE(caller.run.log.size(), 2u);
    EXPECT_THAT(caller.run.log[caller.run.log.size() - 2], EndsWith(std::string("OUTPUT->") + caller.expected));
    EXPECT_EQ(caller.run.log.back(), "info [ END ]\n");
  }
}

}  // namespace
}  // namespace starter::test
