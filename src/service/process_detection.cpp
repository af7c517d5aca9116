#include "service/process_detection.h"

#include "contract/product_contract.h"

namespace starter::service {

bool IsServiceCandidate(std::wstring_view image_name, std::uint32_t process_id,
                        std::uint32_t process_id_filter) {
  static const std::wstring image = contract::Widen(contract::kServiceImageName);
  if (image_name != image) return false;
  return process_id_filter == 0 || process_id == process_id_filter;
}

bool MentionsServiceJar(std::wstring_view command_line) {
  std::wstring_view text = command_line.substr(0, command_line.find(L'\0'));
  static const std::wstring jar = contract::Widen(contract::kServiceJarName);
  return text.find(jar) != std::wstring_view::npos;
}

}  // namespace starter::service
