#pragma once
// Starts copies of the stand-in service under chosen image names in a folder
// of the test's own, and ends every one of them when it goes away.
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace starter::test {

struct StartedProcess {
  std::uint32_t process_id = 0;
  HANDLE handle = nullptr;  // owned by StandInProcesses
  std::wstring command_line;
};

class StandInProcesses {
 public:
  // `environment`: STANDIN_* settings given to every stand-in started.
  explicit StandInProcesses(std::map<std::wstring, std::wstring> environment);
  ~StandInProcesses();
  StandInProcesses(const StandInProcesses&) = delete;
  StandInProcesses& operator=(const StandInProcesses&) = delete;

  const std::wstring& Folder() const { return folder_; }
  // Where the stand-ins append their command lines.
  const std::wstring& RecordFile() const { return record_; }

  // Copies the stand-in as `image_name` into a fresh subfolder and starts it
  // with `arguments` after the quoted program path. Returns once the process
  // has recorded its launch, so its memory is in place; process id 0 when it
  // did not start or never recorded.
  StartedProcess Start(const std::wstring& image_name, const std::wstring& arguments);

 private:
  std::map<std::wstring, std::wstring> environment_;
  std::wstring folder_;
  std::wstring record_;
  std::vector<platform::UniqueHandle> processes_;
};

}  // namespace starter::test
