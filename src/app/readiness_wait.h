#pragma once
// The wait for the service's signs of readiness: up to 200 polls on a clock
// of 100 ms periods, with the periods spent on a watch that brings an extra
// poll when the marker's folder changes.
#include <chrono>
#include <functional>
#include <memory>

#include "app/folder_watch.h"

namespace starter::app {

// What the polls look at, and what the starter waits on between them.
struct ReadinessProbe {
  std::function<bool()> port_listening;
  std::function<bool()> service_running;
  std::function<bool()> marker_present;
  // For the modes that wait for the marker: a watch on its folder.
  std::function<std::unique_ptr<FolderWatch>()> watch_marker_folder;
  // For the port mode: no event announces a socket that starts to listen.
  std::function<std::unique_ptr<FolderWatch>()> watch_nothing;
};

inline constexpr int kMaxPolls = 200;
inline constexpr std::chrono::milliseconds kPollPeriod{100};
// Changes of the folder bring extra polls, never closer than this to the end
// of the previous poll, however often the folder changes.
inline constexpr std::chrono::milliseconds kMinExtraPollGap{10};

// A poll answers nullptr when every check it makes passed, or else the words
// naming the check that failed ("port not LISTENING", "exe not Exist",
// "WsClientConnected.json not Exist").
using Poll = std::function<const char*()>;

// The polls of each waiting mode. Each starts again from its first check:
// success needs all checks of the mode to pass within one poll.
const char* PollPort(const ReadinessProbe& probe);
const char* PollServiceAndMarker(const ReadinessProbe& probe);
const char* PollPortServiceAndMarker(const ReadinessProbe& probe);

// Up to kMaxPolls polls on the clock, each followed by a period of waiting
// on `watch`, the last one too; extra polls do not count. Returns nullptr on
// success, else the words of the check that failed last.
const char* WaitUntilReady(const Poll& poll, FolderWatch& watch);

}  // namespace starter::app
