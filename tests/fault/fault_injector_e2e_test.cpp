// The injector in the test builds of both programs: it reaches every function
// their import directories name and the ones they look up, it fails the call
// it is told to with the failure it is told to, and a run through it that
// fails nothing prints the same bytes as the shipped program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fault/fault_support_win.h"
#include "support/port_env.h"
#include "support/starter_run.h"

namespace starter::test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

ProcessOutcome RunFaultStatus(const std::wstring& options, const std::optional<fault::Injection>& injection = {}) {
  const std::wstring program = FaultBuildOf(StatusExe());
  ProcessOptions settings;
  settings.environment = FaultEnvironment(injection);
  return RunProcess(program, L"\"" + program + L"\"" + options, settings);
}

// A report without what says when it was made: the text's first line, or
// the JSON's "time" member. Two runs a second boundary apart differ there.
std::string WithoutTheTime(const std::string& report) {
  if (report.rfind("zephra_vantic_status ", 0) == 0) return report.substr(report.find('\n') + 1);
  const std::string member = R"("time":")";
  const std::size_t time = report.find(member);
  if (time == std::string::npos) return report;
  return report.substr(0, time) + report.substr(report.find('"', time + member.size()) + 1);
}

class FaultInjector : public StarterTest {};

TEST_F(FaultInjector, RoutesEveryImportOfBothPrograms) {
  for (const std::wstring& program : {StarterExe(), StatusExe()}) {
    const auto imports = ImportsOf(program);
    ASSERT_GT(imports.size(), 100u) << Utf8(program);
    // The test build's own routing, from a run that does nothing else.
    const std::wstring fault_build = FaultBuildOf(program);
    ProcessOptions options;
    options.environment = FaultEnvironment(std::nullopt);
    const ProcessOutcome run = RunProcess(fault_build, L"\"" + fault_build + L"\" --version", options);
    ASSERT_TRUE(run.finished);
    const std::optional<fault::CountFile> counts = ReadCounts();
    ASSERT_TRUE(counts.has_value()) << Utf8(program);
    for (const auto& [module, function] : imports) {
      const int row = fault::RowNamed(function);
      ASSERT_GE(row, 0) << module << "!" << function << " of " << Utf8(program) << " is not in the table";
      EXPECT_EQ(fault::RowAt(row).module, module) << function;
      if (fault::RowAt(row).routed)
        EXPECT_TRUE(counts->routing[row] & fault::kImportSlot) << function << " of " << Utf8(program) << " not routed";
    }
  }
}

TEST_F(FaultInjector, RoutesTheFunctionsTheProgramsLookUp) {
  FakeVanticService service;  // a process whose command line the report reads through ntdll
  ASSERT_TRUE(StoreServerPort(9681));  // a port whose listener the report looks up in the TCP table
  ASSERT_TRUE(RunFaultStatus(L"").finished);
  const std::optional<fault::CountFile> counts = ReadCounts();
  ASSERT_TRUE(counts.has_value());
  for (const int row : {fault::kRow_NtQueryInformationProcess, fault::kRow_NtCreateFile,
                        fault::kRow_GetExtendedTcpTable, fault::kRow_SetDefaultDllDirectories}) {
    EXPECT_TRUE(counts->routing[row] & fault::kLookedUp) << fault::RowAt(row).function;
    EXPECT_GT(counts->calls[row], 0) << fault::RowAt(row).function;
  }
}

TEST_F(FaultInjector, FailsTheChosenCallWithTheChosenFailureOnceOrFromThenOn) {
  ASSERT_TRUE(StoreServerPort(9680));
  const ProcessOutcome plain = RunFaultStatus(L"");
  EXPECT_THAT(plain.standard_output, HasSubstr("ServerPort        9680 (64-bit view)"));
  const long opened = ReadCounts()->calls[fault::kRow_RegOpenKeyExW];
  ASSERT_GE(opened, 1);

  const ProcessOutcome refused = RunFaultStatus(L"", fault::Injection{"RegOpenKeyExW", 1, "ERROR_ACCESS_DENIED"});
  EXPECT_THAT(refused.standard_output, HasSubstr("ServerPort        cannot be read (RegOpenKeyExW GLE=5) (64-bit view)"));
  EXPECT_EQ(ReadCounts()->calls[fault::kRow_RegOpenKeyExW], opened);

  // A later call fails instead: the stored value's read, answered as if the value were gone.
  const ProcessOutcome missing =
      RunFaultStatus(L"", fault::Injection{"RegQueryValueExW", 1, "ERROR_FILE_NOT_FOUND", true});
  EXPECT_THAT(missing.standard_output, HasSubstr("ServerPort        not set"));
  EXPECT_THAT(missing.standard_output, Not(HasSubstr("9680")));

  // An order the table does not know ends the run before anything else.
  const ProcessOutcome unknown = RunFaultStatus(L"", fault::Injection{"RegOpenKeyExW", 1, "ERROR_NO_SUCH_CODE"});
  EXPECT_EQ(unknown.exit_code, 0xFAu);
  EXPECT_THAT(unknown.standard_output, IsEmpty());
}

// So do a write the system takes only in part (the log's first line) and a
// table read told its buffer is too small, with the size it needs: the
// programs write the rest and read again.
TEST_F(FaultInjector, ARunThatFailsNothingPrintsTheShippedProgramsBytes) {
  const std::vector<std::string> port_mode = {"--Dravel", "Brimvale"};
  ASSERT_EQ(RunStarter(port_mode).process.standard_output, kSuccess);
  starter_exe_ = FaultBuildOf(StarterExe());
  const StarterOutcome through_injector = RunStarter(port_mode, FaultEnvironment(std::nullopt));
  const StarterOutcome written_in_part =
      RunStarter(port_mode, FaultEnvironment(fault::Injection{"WriteFile", 1, "STARTER_PARTIAL_TRANSFER"}));
  EXPECT_EQ(through_injector.process.standard_output, kSuccess);
  starter_exe_ = StarterExe();
  const StarterOutcome shipped_run = RunStarter(port_mode);
  EXPECT_EQ(through_injector.log, shipped_run.log);
  EXPECT_EQ(written_in_part.log, shipped_run.log);
  const ProcessOutcome grown = RunFaultStatus(L"", fault::Injection{"GetExtendedTcpTable", 1, "ERROR_INSUFFICIENT_BUFFER"});
  EXPECT_THAT(grown.standard_output, HasSubstr("port 9673         listening (IPv4)"));
  for (const std::wstring options : {L" --history", L" --history --json", L" --help"}) {
    const ProcessOutcome shipped = RunProcess(StatusExe(), L"\"" + StatusExe() + L"\"" + options);
    const ProcessOutcome injected = RunFaultStatus(options);
    EXPECT_EQ(WithoutTheTime(injected.standard_output), WithoutTheTime(shipped.standard_output)) << Utf8(options);
    EXPECT_NE(WithoutTheTime(shipped.standard_output), "") << Utf8(options);
    EXPECT_EQ(injected.exit_code, shipped.exit_code) << Utf8(options);
  }
}

}  // namespace
}  // namespace starter::test
