#include "port/command_output.h"

#include <cstdio>
#include <memory>

#include "log/diag_log.h"
#include "port/stream_output.h"

namespace starter::port {
namespace {

struct PipeCloser {
  void operator()(std::FILE* pipe) const { _pclose(pipe); }
};
using UniquePipe = std::unique_ptr<std::FILE, PipeCloser>;

}  // namespace

bool ReadCommandOutput(const char* command_line, std::string& output) {
  // Text mode: the command's CR LF line ends arrive as single newlines.
  UniquePipe pipe(_popen(command_line, "r"));
  if (!pipe) {
    log::Info("popen error");
    return false;
  }
  return AppendStreamOutput(pipe.get(), output);
}

}  // namespace starter::port
