#include "service/process_detection.h"

#include "contract/product_contract.h"

namespace starter::service {

bool IsServiceImage(std::wstring_view image_name) {
  static const std::wstring image = contract::Widen(contract::kServiceImageName);
  return image_name == image;
}

bool MentionsServiceJar(std::wstring_view command_line) {
  std::wstring_view text = command_line.substr(0, command_line.find(L'\0'));
  static const std::wstring jar = contract::Widen(contract::kServiceJarName);
  return text.find(jar) != std::wstring_view::npos;
}

Identity Identify(std::optional<std::wstring_view> image_name, const std::optional<std::wstring>& command_line) {
  if (!image_name) return Identity::kEnded;
  if (!IsServiceImage(*image_name)) return Identity::kOtherProgram;
  if (!command_line) return Identity::kCannotTell;
  return MentionsServiceJar(*command_line) ? Identity::kService : Identity::kOtherProgram;
}

}  // namespace starter::service
