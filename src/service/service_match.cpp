#include "service/service_match.h"

namespace starter::service {

bool IsServiceCandidate(std::wstring_view image_name, std::uint32_t process_id,
                        std::uint32_t process_id_filter) {
  if (image_name != L"java.exe") return false;
  return process_id_filter == 0 || process_id == process_id_filter;
}

bool MentionsServiceJar(std::wstring_view command_line) {
  std::wstring_view text = command_line.substr(0, command_line.find(L'\0'));
  return text.find(L"Vantic.jar") != std::wstring_view::npos;
}

}  // namespace starter::service
