#pragma once
// Runs the real starter as its callers do, against a test install tree in the
// prefix's Program Files with the stand-in service as its java.exe, and reads
// back what the run left: status line, log lines, registry value, files.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/win_test_env.h"

namespace starter::test {

// `head` followed by `tail`: an expected log built from its parts.
std::vector<std::string> Concat(std::vector<std::string> head, const std::vector<std::string>& tail);

// Milliseconds on the clock of the log's time stamps (local time).
double LocalMs(const SYSTEMTIME& time);
// When the log first got the info line `message`, if it did.
std::optional<double> LoggedAt(const std::string& message);

// One line of the diagnostic log, split into its fields.
struct LogLine {
  std::uint32_t process_id = 0;
  std::string level;    // "info", "warning", ... ; empty for the blank line after the end line
  std::string message;  // "level message" form is given by Text()
  std::string Text() const { return level.empty() ? "" : level + " " + message; }
};

struct StarterOutcome {
  ProcessOutcome process;
  std::vector<std::string> log;  // this run's log lines as Text()
};

class StarterTest : public ::testing::Test {
 public:
  static std::wstring ProgramFiles();
  static std::wstring VanticDir();
  static std::wstring JavaExe();
  static std::wstring ConnectedMarker() { return VanticDir() + L"\\WsClientConnected.json"; }
  static std::wstring InstallMarker() { return VanticDir() + L"\\ForceInstall.file"; }
  static std::wstring ReportMarker() { return VanticDir() + L"\\Report.file"; }
  static std::wstring LogFile();
  // UTF-8 form of a path, as the log writes it.
  static std::string Utf8(const std::wstring& text);

 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the starter with `arguments` (each quoted when it holds a space) and
  // extra environment (a variable without a value is removed).
  StarterOutcome RunStarter(const std::vector<std::string>& arguments,
                            const Environment& environment = {});

  // The command lines the stand-in services of this test were started with.
  std::vector<std::string> RecordedCommandLines() const;
  // Every line of the log file, in file order.
  static std::vector<LogLine> ReadLog();

  std::wstring record_file_;
  // The program RunStarter runs: the build's, or a copy a test placed elsewhere.
  std::wstring starter_exe_ = StarterExe();
  // Where RunStarter sends the starter's standard error; nowhere when empty.
  std::wstring error_file_;
  // Called with the starter's process id before it runs, when set.
  std::function<void(std::uint32_t process_id)> before_start_;
  // Called with its standard output so far as more of it comes, when set.
  std::function<void(const std::string& output)> on_output_;
  // Whether RunStarter closes the read end of the starter's output as it
  // starts, as a caller that went away.
  bool output_closed_ = false;
};

}  // namespace starter::test
