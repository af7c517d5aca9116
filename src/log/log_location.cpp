#include "log/log_location.h"

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

std::wstring LogLocation::RotatedFilePath() const { return FolderPath(own_folders.size()) + L'\\' + rotated_name; }

LogLocation SplitLogPath(std::wstring_view path, std::size_t own_folders) {
  LogLocation location;
  platform::PathParts parts = platform::SplitPath(path);
  location.file_name = parts.name;
  location.rotated_name = RotatedName(location.file_name);
  // At least the drive, or the root, stays the system's.
  for (std::size_t own = 0; own < own_folders; ++own) {
    const platform::PathParts folder = platform::SplitPath(parts.folder);
    if (folder.folder.empty() || folder.name.empty()) break;
    location.own_folders.emplace(location.own_folders.begin(), folder.name);
    parts = folder;
  }
  location.system_folder = parts.folder;
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
