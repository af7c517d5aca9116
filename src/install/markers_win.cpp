#include "install/markers.h"

#include <string_view>

#include "log/diag_log.h"
#include "platform/handles.h"
#include "platform/last_error.h"

namespace starter::install {
namespace {

// Writes `content` to a new or truncated file, open to every other reader
// and writer meanwhile; what failed, if a step did.
platform::Failure WriteMarker(const std::wstring& path, std::string_view content) {
  platform::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return platform::LastError("CreateFileW");
  DWORD written = 0;
  if (!::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr))
    return platform::LastError("WriteFile");
  if (written != content.size()) return platform::SystemError{"WriteFile", ERROR_WRITE_FAULT};
  if (!::CloseHandle(file.release())) return platform::LastError("CloseHandle");
  return std::nullopt;
}

void CreateMarkerIfMissing(const std::wstring& path, std::string_view content, const wchar_t* name) {
  if (IsFilePresent(path)) return;
  // The success line is kept for a file really written and closed, so the
  // log never claims a marker the service will not find.
  if (const platform::Failure failed = WriteMarker(path, content)) {
    log::Warn(L"create {} failed->{} GLE={}", name, path, failed->code);
    return;
  }
  log::Info(L"create {}", name);
}

}  // namespace

bool IsFilePresent(const std::wstring& path) {
  if (path.empty()) return false;
  if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  DWORD error = ::GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

void RemoveConnectedMarker(const std::wstring& connected_marker) {
  if (!IsFilePresent(connected_marker)) return;
  log::Info("remove WsClientConnected.json");
  // A failed deletion (a folder of that name, a locked file) leaves things as
  // they were; the readiness polls then see what is there.
  ::DeleteFileW(connected_marker.c_str());
}

void CreateMissingMarkers(const std::wstring& install_marker, const std::wstring& report_marker) {
  CreateMarkerIfMissing(install_marker, "ForceInstall\r\n", L"ForceInstall.file");
  CreateMarkerIfMissing(report_marker, "Report\r\n", L"Report.file");
}

}  // namespace starter::install
