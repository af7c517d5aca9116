#pragma once
// What a run of the starter owes its caller and its log whatever fault it
// met, checked the same way by every test that hands it one.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/starter_run.h"

namespace starter::test {

// `expected` appears in `lines` in this order, other lines between allowed.
::testing::AssertionResult HasInOrder(const std::vector<std::string>& lines,
                                      const std::vector<std::string>& expected);

// One caller of a group started together, and what it must see.
struct Caller {
  std::vector<std::string> arguments;
  std::string status_line;
  const char* mode_line;  // the mode's first log line, nullptr for none
  StarterOutcome run;
};

class HostileRun : public StarterTest {
 protected:
  // Starts every caller's starter at the same moment and waits for all of
  // them; `after_first` runs as soon as the first has ended.
  void RunTogether(std::vector<Caller>& callers, const Environment& environment,
                   const std::function<void()>& after_first = {});

  // The caller's view: the run ended on its own with exit code 0 and wrote
  // exactly `status_line` (empty: nothing) to standard output.
  static void ExpectCleanEnd(const StarterOutcome& run, const std::string& status_line);

  // The log's view: every line has the layout and a level the program writes
  // (info or warning), and each run in it begins with the start line and ends
  // with the end line, once each. Returns each run's lines by process id.
  static std::map<std::uint32_t, std::vector<std::string>> ExpectWholeLog();

  // This run's lines, as Text() gives them.
  static std::vector<std::string> LinesOf(const StarterOutcome& run);
};

// The suite of runs on a machine turned hostile (a TEMP, the registry, the
// marker folders, the service's processes), whichever folder's code meets it.
class HostileMachine : public HostileRun {};

// The Unix path of a file or folder of the prefix, through wine's own
// export; empty when there is none.
std::wstring UnixPath(const std::wstring& path);

// Starts a Unix program (its path and arguments in `command`) through wine,
// which hands back no handle to wait on for it: callers wait for its effect.
bool StartUnixCommand(std::wstring command);

// A unix symbolic link at `link` (a path of the prefix) to `target`, which
// wine shows by name as a reparse point; removed when the object goes.
// Made() is false when it did not show within the wait.
class UnixLink {
 public:
  UnixLink(std::wstring link, const std::wstring& target);
  ~UnixLink();
  UnixLink(const UnixLink&) = delete;
  UnixLink& operator=(const UnixLink&) = delete;

  bool Made() const { return made_; }

 private:
  std::wstring UnixLinkPath() const;

  std::wstring link_;
  bool made_ = false;
};

// A folder in which nothing can be created, renamed or deleted while this
// object lives. wine checks neither ACLs nor the read-only attribute of a
// folder, and the tests run as root, for whom Unix permissions do not hold:
// the folder gets Linux's immutable attribute (chattr +i) instead, which
// wine reports as access denied. Engaged() is false where that cannot be done.
class UnwritableFolder {
 public:
  explicit UnwritableFolder(std::wstring folder);
  ~UnwritableFolder();
  UnwritableFolder(const UnwritableFolder&) = delete;
  UnwritableFolder& operator=(const UnwritableFolder&) = delete;

  bool Engaged() const { return engaged_; }

 private:
  // Makes and removes a new file; false when it cannot be made.
  bool AcceptsNewFiles();

  std::wstring folder_;
  bool engaged_ = false;
  int probes_ = 0;
  std::vector<std::wstring> stranded_probes_;
};

}  // namespace starter::test
