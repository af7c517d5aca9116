#include "service/launch_command.h"

namespace starter::service {
namespace {

constexpr wchar_t kOptionsTempReady[] = L" -Djava.net.preferIPv4Stack=true -jar ";
constexpr wchar_t kOptionsFixedTemp[] =
    L" -Djava.net.preferIPv4Stack=true -Djava.io.tmpdir=\"C:\\Windows\\Temp\" "
    L"-Djna.tmpdir=\"C:\\Windows\\Temp\" -jar ";

}  // namespace

std::wstring BuildServiceCommandLine(const std::wstring& service_jar, bool temp_ready) {
  std::wstring line = temp_ready ? kOptionsTempReady : kOptionsFixedTemp;
  // Quoted whole: the install root usually holds spaces ("Program Files").
  line += L'"';
  line += service_jar;
  line += L'"';
  return line;
}

}  // namespace starter::service
