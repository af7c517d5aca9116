#include "service/launch.h"

namespace starter::service {
namespace {

constexpr wchar_t kIpv4Option[] = L" -Djava.net.preferIPv4Stack=true";
constexpr wchar_t kJarOption[] = L" -jar ";
constexpr wchar_t kStandardDrive[] = L"C:";

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

std::wstring BuildServiceCommandLine(const std::wstring& service_jar, bool temp_ready,
                                     const std::wstring& system_drive) {
  std::wstring line = kIpv4Option;
  if (!temp_ready) {
    const std::wstring temp = system_drive + L"\\Windows\\Temp";
    line += L" -Djava.io.tmpdir=\"" + temp + L"\" -Djna.tmpdir=\"" + temp + L"\"";
  }
  line += kJarOption;
  // Quoted whole: the install root usually holds spaces ("Program Files").
  line += L'"';
  line += service_jar;
  line += L'"';
  return line;
}

std::wstring SystemDriveOf(const std::wstring& windows_folder) {
  if (windows_folder.size() < 2 || !IsAsciiLetter(windows_folder[0]) || windows_folder[1] != L':')
    return kStandardDrive;
  // Upper case, as on a standard installation, whatever case the system reports.
  wchar_t letter = windows_folder[0];
  if (letter >= L'a') letter = static_cast<wchar_t>(letter - (L'a' - L'A'));
  return {letter, L':'};
}

}  // namespace starter::service
