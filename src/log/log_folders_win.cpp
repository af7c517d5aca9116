#include "log/log_folders.h"

#include <spdlog/common.h>

#include "log/utf8.h"
#include "platform/held_entries.h"

namespace starter::log {
namespace {

// Creates every missing folder of `folder`, outermost first. These are the
// system's folders, which only administrators can replace by a link.
void CreateFolders(const std::wstring& folder) {
  for (size_t pos = folder.find(L'\\', 3);; pos = folder.find(L'\\', pos + 1)) {
    ::CreateDirectoryW(folder.substr(0, pos).c_str(), nullptr);
    if (pos == std::wstring::npos) return;
  }
}

// The attributes of `path` by its name, 0 when they cannot be had.
std::uint32_t AttributesByName(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
}

platform::UniqueHandle HoldOwnFolder(HANDLE parent, const std::wstring& name, const std::wstring& path) {
  platform::Expected<platform::UniqueHandle> folder = platform::HoldFolderIn(parent, name);
  if (!folder) ThrowFailure("Failed opening folder", path, folder.error());
  platform::Expected<platform::EntryFacts> facts = platform::QueryEntryFacts(folder->get());
  if (!facts) ThrowFailure("Failed checking folder", path, facts.error());
  // Asked only now that the folder is held: its name cannot be given to another folder meanwhile.
  const Refusal refusal = JudgeOwnFolder(*facts, AttributesByName(path));
  if (refusal != Refusal::kNone) ThrowRefusal(refusal, path);
  return std::move(*folder);
}

}  // namespace

std::vector<platform::UniqueHandle> HoldLogFolders(const LogLocation& location) {
  CreateFolders(location.system_folder);
  platform::Expected<platform::UniqueHandle> system = platform::HoldFolderByPath(location.system_folder);
  if (!system) ThrowFailure("Failed opening folder", location.system_folder, system.error());
  std::vector<platform::UniqueHandle> held;
  held.push_back(std::move(*system));
  for (size_t i = 0; i < location.own_folders.size(); ++i)
    held.push_back(HoldOwnFolder(held.back().get(), location.own_folders[i], location.FolderPath(i + 1)));
  return held;
}

void ThrowFailure(const char* what, const std::wstring& path, const platform::SystemError& error) {
  throw spdlog::spdlog_ex(std::string(what) + " " + WideToUtf8(path) + ": " + platform::Describe(error));
}

void ThrowRefusal(Refusal refusal, const std::wstring& path) {
  throw spdlog::spdlog_ex(RefusalText(refusal, WideToUtf8(path)));
}

}  // namespace starter::log
