#pragma once
// The two ways a 32-bit starter reads another process: with its own width
// (ReadProcessMemory) on 32-bit Windows, and through the 64-bit functions of
// WOW64 on 64-bit Windows. The ntdll functions are not imported; each call
// looks its function up again in the loaded ntdll.dll.
#include "platform/win.h"

#include "service/command_line_reader.h"

namespace starter::service {

class NativeMemoryReader final : public ProcessMemoryReader {
 public:
  explicit NativeMemoryReader(HANDLE process) : process_(process) {}
  bool QueryBasicInformation(void* record, std::uint32_t size) override;
  bool Read(std::uint64_t address, void* out, std::size_t size) override;

 private:
  HANDLE process_;
};

class Wow64MemoryReader final : public ProcessMemoryReader {
 public:
  explicit Wow64MemoryReader(HANDLE process) : process_(process) {}
  bool QueryBasicInformation(void* record, std::uint32_t size) override;
  bool Read(std::uint64_t address, void* out, std::size_t size) override;

 private:
  HANDLE process_;
};

}  // namespace starter::service
