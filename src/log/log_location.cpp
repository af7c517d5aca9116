#include "log/log_location.h"

#include <algorithm>

namespace starter::log {
namespace {

std::wstring RotatedName(const std::wstring& name) {
  const std::size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos || dot == 0) return name + L".1";
  return name.substr(0, dot) + L".1" + name.substr(dot);
}


bool IsLink(std::uint32_t attributes) { return (attributes & platform::kAttributeReparsePoint) != 0; }

bool IsLink(const platform::EntryFacts& held) { return IsLink(held.attributes) || held.reparse_tag != 0; }

}  // namespace

std::wstring LogLocation::FolderPath(std::size_t own_count) const {
  std::wstring path = system_folder;
  for (std::size_t i = 0; i < own_count && i < own_folders.size(); ++i) path += L'\\' + own_folders[i];
  return path;
}

std::wstring LogLocation::FilePath() const { return FolderPath(own_folders.size()) + L'\\' + file_name; }

std::wstring LogLocation::RotatedPath() const { return FolderPath(own_folders.size()) + L'\\' + rotated_name; }

LogLocation SplitLogPath(std::wstring_view path, std::size_t own_folders) {
  std::vector<std::wstring> parts;
  for (std::size_t start = 0;;) {
    const std::size_t slash = path.find(L'\\', start);
    parts.emplace_back(path.substr(start, slash == std::wstring_view::npos ? slash : slash - start));
    if (slash == std::wstring_view::npos) break;
    start = slash + 1;
  }
  LogLocation location;
  location.file_name = parts.back();
  location.rotated_name = RotatedName(location.file_name);
  parts.pop_back();
  // At least the drive stays the system's.
  const std::size_t own = parts.empty() ? 0 : std::min(own_folders, parts.size() - 1);
  location.own_folders.assign(parts.end() - static_cast<std::ptrdiff_t>(own), parts.end());
  parts.resize(parts.size() - own);
  for (std::size_t i = 0; i < parts.size(); ++i) location.system_folder += (i ? L"\\" : L"") + parts[i];
  return location;
}

Refusal JudgeOwnFolder(const platform::EntryFacts& held, std::uint32_t attributes_by_name) {
  return IsLink(held) || IsLink(attributes_by_name) ? Refusal::kLink : Refusal::kNone;
}

Refusal JudgeLogFile(const platform::EntryFacts& held) {
  if (IsLink(held)) return Refusal::kLink;
  return held.link_count > 1 ? Refusal::kSeveralNames : Refusal::kNone;
}

std::string RefusalText(Refusal refusal, const std::string& path) {
  switch (refusal) {
    case Refusal::kNone: break;
    case Refusal::kLink: return "Refused " + path + ": it is a link (reparse point)";
    case Refusal::kSeveralNames: return "Refused " + path + ": the file has another name (hard link)";
  }
  return {};
}

}  // namespace starter::log
