#pragma once
// What the injector's tests and the fault driver share: where the test
// builds are, the environment that tells the injector what to do, the count
// file it leaves, and the imports a program's file names.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fault/fault_catalogue.h"
#include "fault/fault_plan.h"
#include "support/win_test_env.h"

namespace starter::test {

// The test build of a program of this build (StarterExe(), StatusExe()).
std::wstring FaultBuildOf(const std::wstring& program);

// Where the runs of this process leave their counts.
std::wstring CountFilePath();

// The injector's settings: count into CountFilePath(), keep the starter's
// log's size when the order fires, and fail `injection` when there is one.
Environment FaultEnvironment(const std::optional<fault::Injection>& injection);

// The counts the last run left, if it left them whole.
std::optional<fault::CountFile> ReadCounts();

// The functions the counts show called, in table order, with their failures.
std::vector<fault::CalledFunction> CalledFunctions(const fault::CountFile& counts);

// Every function the import directory of the program file at `path` names,
// as (module in lower case, function); none when it cannot be read.
std::vector<std::pair<std::string, std::string>> ImportsOf(const std::wstring& path);

}  // namespace starter::test
