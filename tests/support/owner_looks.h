#pragma once
// The processes as a test scripts them for a question about a port's
// owners: what a look finds of each process, or no process list at all, and
// which processes were looked at, in order.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "service/process_detection.h"

namespace starter::test {

struct ScriptedOwnerLooks final : service::Processes {
  // What the processes are; a failure is a process list that cannot be read.
  platform::Expected<service::ProcessLooks> processes = service::ProcessLooks{};
  std::vector<std::vector<std::uint32_t>> looked_at;

  // The looks at those of `ids` the script knows.
  platform::Expected<service::ProcessLooks> LookAt(const std::vector<std::uint32_t>& ids) override {
    looked_at.push_back(ids);
    if (!processes.ok()) return processes.error();
    service::ProcessLooks looks;
    for (std::uint32_t id : ids)
      if (const auto known = processes->find(id); known != processes->end()) looks.insert(*known);
    return looks;
  }
  // A port's owners are judged by the looks at them alone, never by whether
  // a service runs elsewhere.
  platform::Expected<service::ServiceSearch> FindService() override {
    ADD_FAILURE() << "a question about a port's owners searched for a running service";
    return service::ServiceSearch::kFound;
  }
};

}  // namespace starter::test
