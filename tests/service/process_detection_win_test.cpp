#include "service/process_detection.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>

#include "service/command_line_reader.h"
#include "support/standin_processes.h"
#include "support/win_test_env.h"

namespace starter::service {
namespace {

using test::StandInProcesses;
using test::StartedProcess;

// What one walk finds of the service, and what a look finds of one process;
// a process list that cannot be read fails the test.
ServiceSearch Search() {
  const platform::Expected<ServiceSearch> search = MachineProcesses().FindService();
  EXPECT_TRUE(search.ok()) << Describe(search.error());
  return search.ok() ? *search : ServiceSearch::kCannotTell;
}

Identity IdentityOf(std::uint32_t process_id) {
  platform::Expected<ProcessLooks> looks = MachineProcesses().LookAt({process_id});
  EXPECT_TRUE(looks.ok()) << Describe(looks.error());
  return looks.ok() ? (*looks)[process_id].identity : Identity::kCannotTell;
}

class ServiceProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    // A stand-in left over by an earlier test would answer for ours.
    test::KillProcessesNamed(L"java.exe");
    ASSERT_EQ(Search(), ServiceSearch::kNotFound);
  }

  std::wstring Jar(const std::wstring& name) const { return L"\"" + processes_.Folder() + L"\\" + name + L"\""; }

  StandInProcesses processes_{{{L"STANDIN_NO_LISTEN", L"1"}, {L"STANDIN_NO_MARKER", L"1"}}};
};

TEST_F(ServiceProcess, IsFoundByAnyIdAndByItsOwnIdOnly) {
  StartedProcess service = processes_.Start(L"java.exe", L"-jar " + Jar(L"Vantic.jar"));
  StartedProcess other_java = processes_.Start(L"java.exe", L"-jar " + Jar(L"Other.jar"));
  ASSERT_NE(service.process_id, 0u);
  ASSERT_NE(other_java.process_id, 0u);

  EXPECT_EQ(Search(), ServiceSearch::kFound);
  EXPECT_EQ(IdentityOf(service.process_id), Identity::kService);
  EXPECT_EQ(IdentityOf(other_java.process_id), Identity::kOtherProgram);
  EXPECT_EQ(IdentityOf(::GetCurrentProcessId()), Identity::kOtherProgram);

  ::TerminateProcess(service.handle, 1);
  ::WaitForSingleObject(service.handle, 10000);
  EXPECT_EQ(Search(), ServiceSearch::kNotFound);
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

  EXPECT_EQ(Search(), GetParam().is_service ? ServiceSearch::kFound : ServiceSearch::kNotFound);
  EXPECT_EQ(IdentityOf(process.process_id), GetParam().is_service ? Identity::kService : Identity::kOtherProgram);
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
  EXPECT_EQ(IdentityOf(process.process_id), Identity::kEnded);
}

// A java.exe whose command line cannot be read (as another account's is to a
// standard user) may be the service: the look cannot tell, and the walk
// says so rather than pass it over as no service.
TEST_F(ServiceProcess, AJavaWhoseCommandLineCannotBeReadIsOneTheLookCannotTell) {
  StandInProcesses unreadable({{L"STANDIN_REWRITE_COMMAND_LINE", L"unreadable"}, {L"STANDIN_NO_LISTEN", L"1"}});
  StartedProcess process = unreadable.Start(L"java.exe", L"-jar \"" + unreadable.Folder() + L"\\Vantic.jar\"");
  ASSERT_NE(process.process_id, 0u);
  // The stand-in writes its marker beside the jar once its record is damaged.
  ASSERT_TRUE(test::WaitFor([&] { return test::PathExists(unreadable.Folder() + L"\\WsClientConnected.json"); }));
  EXPECT_EQ(GetProcessCommandLine(process.process_id), std::nullopt);
  EXPECT_EQ(IdentityOf(process.process_id), Identity::kCannotTell);
  EXPECT_EQ(Search(), ServiceSearch::kCannotTell);
  std::vector<Identity> visited;
  ASSERT_TRUE(ForEachServiceCandidate([&](std::uint32_t id, Identity identity, const std::wstring& command_line) {
                if (id == process.process_id) visited.push_back(identity);
                EXPECT_TRUE(command_line.empty() || identity != Identity::kCannotTell);
                return true;
              }).ok());
  EXPECT_EQ(visited, std::vector<Identity>{Identity::kCannotTell});
}

}  // namespace
}  // namespace starter::service
