#include "service/process_detection.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/standin_processes.h"
#include "support/win_test_env.h"

namespace starter::service {
namespace {

using test::StandInProcesses;
using test::StartedProcess;

class ServiceProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    // A stand-in left over by an earlier test would answer for ours.
    test::KillProcessesNamed(L"java.exe");
    ASSERT_FALSE(IsServiceProcessRunning(0));
  }

  std::wstring Jar(const std::wstring& name) const { return L"\"" + processes_.Folder() + L"\\" + name + L"\""; }

  StandInProcesses processes_{{{L"STANDIN_NO_LISTEN", L"1"}, {L"STANDIN_NO_MARKER", L"1"}}};
};

TEST_F(ServiceProcess, IsFoundByAnyIdAndByItsOwnIdOnly) {
  StartedProcess service = processes_.Start(L"java.exe", L"-jar " + Jar(L"Vantic.jar"));
  StartedProcess other_java = processes_.Start(L"java.exe", L"-jar " + Jar(L"Other.jar"));
  ASSERT_NE(service.process_id, 0u);
  ASSERT_NE(other_java.process_id, 0u);

  EXPECT_TRUE(IsServiceProcessRunning(0));
  EXPECT_TRUE(IsServiceProcessRunning(service.process_id));
  EXPECT_FALSE(IsServiceProcessRunning(other_java.process_id));
  EXPECT_FALSE(IsServiceProcessRunning(::GetCurrentProcessId()));

  ::TerminateProcess(service.handle, 1);
  ::WaitForSingleObject(service.handle, 10000);
  EXPECT_FALSE(IsServiceProcessRunning(0));
}

struct Launch {
  const char* name;
  const wchar_t* image_name;
  const wchar_t* arguments;  // {dir} stands for the test's folder
  bool is_service;
};
void PrintTo(const Launch& launch, std::ostream* out) { *out << launch.name; }

class ServiceRecognition : public ServiceProcess, public ::testing::WithParamInterface<Launch> {};

TEST_P(ServiceRecognition, NeedsTheExactImageNameAndTheJarNameInItsCase) {
  std::wstring arguments = GetParam().arguments;
  size_t at = arguments.find(L"{dir}");
  if (at != std::wstring::npos) arguments.replace(at, 5, processes_.Folder());
  StartedProcess process = processes_.Start(GetParam().image_name, arguments);
  ASSERT_NE(process.process_id, 0u);
  // The command line is readable, so a "no" below is the rule's answer.
  ASSERT_EQ(GetProcessCommandLine(process.process_id), process.command_line);

  EXPECT_EQ(IsServiceProcessRunning(0), GetParam().is_service);
  EXPECT_EQ(IsServiceProcessRunning(process.process_id), GetParam().is_service);
}

INSTANTIATE_TEST_SUITE_P(
    Launches, ServiceRecognition,
    ::testing::Values(
        Launch{"capital_J", L"Java.exe", L"-jar \"{dir}\\Vantic.jar\"", false},
        Launch{"javaw", L"javaw.exe", L"-jar \"{dir}\\Vantic.jar\"", false},
        Launch{"lower_case_jar", L"java.exe", L"-jar \"{dir}\\vantic.jar\"", false},
        Launch{"jar_in_longer_argument", L"java.exe", L"-Dnote=pre-Vantic.jar-post -jar Other.jar", true},
        Launch{"jar_in_longer_name", L"java.exe", L"-jar \"{dir}\\MyVantic.jar.old\"", true}),
    [](const ::testing::TestParamInfo<Launch>& launch) { return std::string(launch.param.name); });

TEST_F(ServiceProcess, CommandLineOfAnotherProcessIsReadExactly) {
  StartedProcess process =
      processes_.Start(L"java.exe", L"-Dname=\"Zo\u00eb \u4e2d\"  -Dempty= -jar " + Jar(L"Vantic.jar"));
  ASSERT_NE(process.process_id, 0u);
  EXPECT_EQ(GetProcessCommandLine(process.process_id), process.command_line);
  EXPECT_EQ(GetProcessCommandLine(::GetCurrentProcessId()), std::wstring(::GetCommandLineW()));
}

TEST_F(ServiceProcess, ProcessIdZeroOrAnEndedProcessGivesNoCommandLine) {
  EXPECT_EQ(GetProcessCommandLine(0), std::nullopt);

  StartedProcess process = processes_.Start(L"java.exe", L"-jar " + Jar(L"Vantic.jar"));
  ASSERT_NE(process.process_id, 0u);
  ::TerminateProcess(process.handle, 1);
  ::WaitForSingleObject(process.handle, 10000);
  // Our handle keeps the id from being reused, but there is no memory left to read.
  EXPECT_EQ(GetProcessCommandLine(process.process_id), std::nullopt);
  EXPECT_FALSE(IsServiceProcessRunning(process.process_id));
}

}  // namespace
}  // namespace starter::service
