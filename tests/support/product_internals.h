#pragma once
// Functions of the product that only the tests and the benchmark call by
// name: the product reaches them through its own entry points.
#include <chrono>
#include <string>

#include "port/command_output.h"
#include "port/port_selection.h"

namespace starter::port {

// What ReadCommandOutput does, for any program: runs `program` with
// `command_line` in `folder` and appends its standard output.
CommandOutput ReadProgramOutput(const std::wstring& program, const std::wstring& folder,
                                std::wstring command_line, std::string& output, std::chrono::milliseconds limit);

}  // namespace starter::port

namespace starter::test {

// One availability check with a budget of its own, judged as the starter's
// port selection judges: the Vantic service keeps the ports it holds.
inline bool IsPortAvailable(int port) {
  port::MachinePortSteps steps;
  service::MachineProcesses processes;
  return port::IsPortAvailable(steps, processes, port);
}

}  // namespace starter::test
