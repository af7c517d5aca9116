#include "port/command_output.h"

namespace starter::port {
namespace {

// A command's output is read in pieces of this many bytes.
constexpr std::size_t kPieceSize = 500;

}  // namespace

std::wstring InterpreterCommandLine(const std::wstring& command_line) { return L"cmd.exe /d /c " + command_line; }

platform::Status AppendStreamOutput(std::FILE* stream, std::string& output) {
  // One byte more than a piece and zeroed once: the last byte is never read
  // into, so a full piece is always a terminated text.
  char buffer[kPieceSize + 1] = {};
  std::size_t got = std::fread(buffer, 1, kPieceSize, stream);
  while (got == kPieceSize) {
    output += buffer;  // up to its first NUL
    got = std::fread(buffer, 1, kPieceSize, stream);
  }
  if (std::ferror(stream)) return platform::ErrnoError("fread");
  if (std::feof(stream)) output.append(buffer, got);
  return {};
}

}  // namespace starter::port
