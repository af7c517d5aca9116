#pragma once
// Reads another process through an open handle, in one of the two ways a
// 32-bit starter can: with its own width (NtQueryInformationProcess and
// ReadProcessMemory) on 32-bit Windows, or through the 64-bit functions of
// WOW64 on 64-bit Windows. The ntdll functions are not imported; each call
// looks its function up again in the loaded ntdll.dll.
#include "platform/win.h"

#include "service/command_line_query.h"
#include "service/command_line_reader.h"

namespace starter::service {

class ProcessHandleReader final : public ProcessMemoryReader {
 public:
  ProcessHandleReader(HANDLE process, ReadPath path) : process_(process), path_(path) {}
  bool QueryBasicInformation(void* record, std::uint32_t size) override;
  bool Read(std::uint64_t address, void* out, std::size_t size) override;

 private:
  HANDLE process_;
  ReadPath path_;
};

// The command-line query through NtQueryInformationProcess of the starter's
// own width: under WOW64 the system hands the 64-bit answer over in 32-bit
// form, so one call serves 32-bit and 64-bit targets alike.
class ProcessCommandLineQuery final : public CommandLineQuery {
 public:
  explicit ProcessCommandLineQuery(HANDLE process) : process_(process) {}
  std::uint32_t Query(unsigned char* block, std::uint32_t size, std::uint32_t& needed) override;

 private:
  HANDLE process_;
};

}  // namespace starter::service
