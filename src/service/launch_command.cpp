#include "service/launch_command.h"

#include "install/install_paths.h"

namespace starter::service {
namespace {

constexpr wchar_t kPrefixTempReady[] = L" -Djava.net.preferIPv4Stack=true -jar \"";
constexpr wchar_t kPrefixFixedTemp[] =
    L" -Djava.net.preferIPv4Stack=true -Djava.io.tmpdir=\"C:\\Windows\\Temp\" "
    L"-Djna.tmpdir=\"C:\\Windows\\Temp\" -jar \"";

}  // namespace

std::wstring BuildServiceCommandLine(const std::wstring& install_root, bool temp_ready) {
  std::wstring line = temp_ready ? kPrefixTempReady : kPrefixFixedTemp;
  line += install_root;
  line += install::kServiceJarPathQuoted;
  return line;
}

}  // namespace starter::service
