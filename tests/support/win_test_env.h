#pragma once
// What the tests under wine share: where the programs under test are, and a
// way to run one as its callers do, with its output captured through a pipe.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace starter::test {

// The status line of a wait that ended with everything ready, as a caller reads it.
inline constexpr char kSuccess[] = R"({"Dravel":0,"Selkan":0})";

// Folder of the running test program (the tools are built beside it).
std::wstring TestBinDir();
// Folder for the files a test makes for itself: the prefix's own, since runs
// in other prefixes (another emulator's, side by side) share the build tree
// and may number their processes alike.
std::wstring ScratchDir();
// The starter executable of this build, and the status program beside it.
std::wstring StarterExe();
std::wstring StatusExe();

struct ProcessOutcome {
  bool started = false;
  bool finished = false;  // false when it was killed at the time limit
  std::uint32_t process_id = 0;
  std::uint32_t exit_code = 0;
  double seconds = 0;  // from the start to the end of its output
  std::string standard_output;
};

using Environment = std::map<std::wstring, std::optional<std::wstring>>;

struct ProcessOptions {
  // Variables to set (or, when without a value, to remove) in the child's
  // copy of this process's environment.
  Environment environment;
  std::uint32_t time_limit_ms = 60000;
  // When set, standard error goes to this file, made anew; otherwise nowhere.
  std::wstring error_file;
  // When set, called with the process's id while it is created suspended,
  // before it runs its first instruction.
  std::function<void(std::uint32_t process_id)> before_start;
  // When set, called with the output read so far each time more of it comes.
  std::function<void(const std::string& output)> on_output;
  // When set, the read end of its output pipe is closed as it starts, as by
  // a caller that went away: its writes there fail, and nothing is read.
  bool output_closed = false;
};

// Runs `command_line` (program path quoted by the caller where needed) and
// waits for it, reading its standard output to the end.
ProcessOutcome RunProcess(const std::wstring& application, const std::wstring& command_line,
                          const ProcessOptions& options = {});

// Ends every process whose image name is `image_name` and waits until they are gone.
void KillProcessesNamed(const std::wstring& image_name);
// How many processes with the image name `image_name` exist now.
int CountProcessesNamed(const std::wstring& image_name);

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool PathExists(const std::wstring& path);

// The value of this process's environment variable `name`, if it is set.
std::optional<std::wstring> EnvironmentVariable(const std::wstring& name);

// The two views of the registry a 32-bit program can name on 64-bit Windows.
enum class RegistryView { k64Bit, k32Bit };

// The ServerPort value in one view of the registry, when it is there as a
// DWORD. The starter keeps it in the 64-bit view.
std::optional<std::uint32_t> StoredServerPort(RegistryView view = RegistryView::k64Bit);
// Stores `value` as ServerPort in the 64-bit view, creating the key; true
// when it was written.
bool StoreServerPort(std::uint32_t value);
// Removes the vendor's registry key with all below it (64-bit view), so that
// a test starts without a stored port.
void DeleteVendorKey();

// Polls `condition` every 50 ms for up to `limit_ms`; true once it held.
bool WaitFor(const std::function<bool()>& condition, int limit_ms = 30000);

}  // namespace starter::test
