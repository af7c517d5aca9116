#include "service/launch.h"

namespace starter::service {
namespace {

constexpr wchar_t kIpv4Option[] = L" -Djava.net.preferIPv4Stack=true";
constexpr wchar_t kJarOption[] = L" -jar ";
constexpr wchar_t kStandardDrive[] = L"C:";

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// How many characters of `path` name its root, separator included: C:\,
// \\server\share\ and \ are roots; a relative path has none.
std::size_t RootLength(const std::wstring& path) {
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == L':')
    return path.size() >= 3 && IsSeparator(path[2]) ? 3 : 2;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // Past the server's and the share's names, and the separator after them.
    std::size_t at = path.find_first_of(L"\\/", 2);
    if (at != std::wstring::npos) at = path.find_first_of(L"\\/", at + 1);
    return at == std::wstring::npos ? path.size() : at + 1;
  }
  return !path.empty() && IsSeparator(path[0]) ? 1 : 0;
}

}  // namespace

std::wstring FolderToQuery(std::wstring folder) {
  const std::size_t root = RootLength(folder);
  while (folder.size() > root && IsSeparator(folder.back())) folder.pop_back();
  return folder;
}

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
