// The status program's looking on its worker, with the worker's start and
// the looking scripted: one that ends, one that throws, one that hangs, and
// a worker the system will not start.
#include "status/looking.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <system_error>
#include <thread>

#include "status/report.h"
#include "status/verdict.h"

namespace starter::status {
namespace {

using std::chrono::milliseconds;
using ::testing::StartsWith;

Observations Header() {
  Observations header;
  header.version = "2.3.6.2";
  header.now.local = "2026-12-08 10:00:00";
  return header;
}

// Runs the work on a thread that is joined when the test ends, waiting for
// it as the program does.
struct Workers {
  std::vector<std::thread> threads;
  RunOnWorker Start() {
    return [this](std::function<void()> work, milliseconds limit) {
      auto done = std::make_shared<std::promise<void>>();
      std::future<void> ended = done->get_future();
      threads.emplace_back([work = std::move(work), done] {
        work();
        done->set_value();
      });
      return ended.wait_for(limit) == std::future_status::ready;
    };
  }
  ~Workers() {
    for (std::thread& thread : threads) thread.join();
  }
};

// A job's limits or a starved machine keep the worker from starting: the
// report still ends in an unknown verdict that says so, with exit code 4
// (a crash would end with 3, "not running").
TEST(LookWithin, AWorkerThatCannotBeStartedEndsAsUnknown) {
  const std::atomic<const char*> looking_at{"the machine"};
  bool looked = false;
  const Looked result = LookWithin(
      [&looked] {
        looked = true;
        return Observations();
      },
      [](std::function<void()>, milliseconds) -> bool {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      },
      milliseconds(10000), looking_at, Header());
  EXPECT_FALSE(looked);
  EXPECT_TRUE(result.ended);
  const Verdict verdict = JudgeState(result.seen);
  EXPECT_EQ(ExitCodeOf(verdict.state), 4);
  EXPECT_THAT(verdict.reason, StartsWith("the report failed while reading the machine: its worker thread did not start: "));
  EXPECT_EQ(result.seen.version, "2.3.6.2");
}

TEST(LookWithin, WhatTheWorkerSawOrWhatEscapedItIsTheReport) {
  Workers workers;
  std::atomic<const char*> looking_at{"the machine"};
  Observations installed = Header();
  installed.install_root = L"C:\\Program Files";
  const Looked seen = LookWithin([&installed] { return installed; }, workers.Start(), milliseconds(60000),
                                 looking_at, Header());
  EXPECT_TRUE(seen.ended);
  EXPECT_EQ(seen.seen.install_root, L"C:\\Program Files");

  const Looked failed = LookWithin(
      [&looking_at]() -> Observations {
        looking_at = "the starter's log";
        throw std::bad_alloc();
      },
      workers.Start(), milliseconds(60000), looking_at, Header());
  EXPECT_TRUE(failed.ended);
  EXPECT_EQ(JudgeState(failed.seen).reason, "the report failed while reading the starter's log: std::bad_alloc");
}

// A check that hangs keeps its worker; the report names what it was reading.
TEST(LookWithin, ALookingThatDoesNotEndNamesWhatItWasReading) {
  Workers workers;
  const std::atomic<const char*> looking_at{"the TCP tables"};
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  const Looked hung = LookWithin(
      [released] {
        released.wait();
        return Observations();
      },
      workers.Start(), milliseconds(50), looking_at, Header());
  release.set_value();
  EXPECT_FALSE(hung.ended);
  EXPECT_EQ(hung.seen.unanswered, "the TCP tables");
  EXPECT_EQ(ExitCodeOf(JudgeState(hung.seen).state), 4);
}

}  // namespace
}  // namespace starter::status
