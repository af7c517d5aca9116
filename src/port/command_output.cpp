#include "port/command_output.h"

#include "log/diag_log.h"
#include "platform/system_error.h"

namespace starter::port {
namespace {
constexpr std::size_t kPieceSize = 500;
}  // namespace

bool AppendStreamOutput(std::FILE* stream, std::string& output) {
  // One byte more than a piece and zeroed once: the last byte is never read
  // into, so a full piece is always a terminated text.
  char buffer[kPieceSize + 1] = {};
  std::size_t got = std::fread(buffer, 1, kPieceSize, stream);
  while (got == kPieceSize) {
    output += buffer;  // up to its first NUL
    got = std::fread(buffer, 1, kPieceSize, stream);
  }
  if (std::ferror(stream)) {
    const platform::SystemError failed = platform::ErrnoError("fread");
    log::Info("read pipe error");
    log::Info("{}", Describe(failed));
    return false;
  }
  if (std::feof(stream)) output.append(buffer, got);
  return true;
}

}  // namespace starter::port
