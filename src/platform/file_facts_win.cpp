#include "platform/file_facts.h"

#include "platform/handles.h"
#include "platform/system_facts.h"
#include "platform/system_facts.h"

namespace starter::platform {

Expected<FileIdentity> ReadFileIdentity(const std::wstring& path) {
  // Attribute access only: the system checks no sharing for it, so neither a
  // writer's handle nor one without any sharing keeps the look out.
  UniqueHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return LastError("CreateFileW");
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file.get(), &information)) return LastError("GetFileInformationByHandle");
  FileIdentity identity;
  identity.volume = information.dwVolumeSerialNumber;
  identity.index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  identity.last_write = TicksOf(information.ftLastWriteTime);
  return identity;
}

}  // namespace starter::platform
