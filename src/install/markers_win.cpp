#include "install/markers.h"

#include <chrono>
#include <optional>
#include <string_view>

#include "log/diag_log.h"
#include "platform/file_operations.h"
#include "platform/handles.h"
#include "platform/system_facts.h"

namespace starter::install {
namespace {

MarkerLook LookAt(const std::wstring& path) {
  const platform::Expected<platform::FileIdentity> identity = platform::ReadFileIdentity(path);
  if (identity.ok()) return {MarkerLook::Kind::kFile, *identity};
  return {platform::MeansNotThere(identity.error()) ? MarkerLook::Kind::kAbsent : MarkerLook::Kind::kUnreadable, {}};
}

// What stands at the marker's name, as the leftover the waits must not take
// for the service's marker; none when nothing does.
std::optional<LeftoverMarker> LeftoverOf(const MarkerLook& look) {
  switch (look.kind) {
    case MarkerLook::Kind::kAbsent: return std::nullopt;
    case MarkerLook::Kind::kUnreadable: return LeftoverMarker{};
    case MarkerLook::Kind::kFile: break;
  }
  return LeftoverMarker{look.identity};
}

// After a removal that failed: a marker still at its name is the leftover.
// One whose name is free was moved aside and waits under that name for a
// deletion that did not come.
std::optional<LeftoverMarker> ReportFailedRemoval(const std::wstring& path, const platform::SystemError& failed) {
  const MarkerLook look = LookAt(path);
  if (look.kind == MarkerLook::Kind::kAbsent) {
    if (!platform::MeansNotThere(failed))
      log::Warn("{} moved aside, not deleted: {}", contract::kConnectedMarker.name, Describe(failed));
  } else {
    log::Warn("{} left in place: {}", contract::kConnectedMarker.name, Describe(failed));
  }
  return LeftoverOf(look);
}

// How long a marker this run could not fill may take to go: the file is
// this run's own and a moment old, so only a program that holds an oplock
// on it (a scanner looking at a new file) can hold its deletion up, and
// lets go within milliseconds. One for each marker of the table still
// leaves the stage room for the opens and writes.
constexpr std::chrono::milliseconds kUnfilledMarkerRemovalBound{100};
static_assert(contract::kMarkerCount * kUnfilledMarkerRemovalBound <
                  contract::BoundOf(contract::Stage::kMarkerCreation).bound,
              "the unfilled markers' removals fit the marker creation's bound");

}  // namespace

platform::Status WriteMarker(const std::wstring& path, std::string_view content) {
  // Only a file that is not there: one the service wrote since the starter
  // looked is its own, and stays as it is. With DELETE, so that one this
  // run cannot fill goes through its own handle.
  platform::Expected<platform::UniqueHandle> file =
      STARTER_OPEN(platform::UniqueHandle, CreateFileW, path.c_str(), GENERIC_WRITE | DELETE,
                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                   nullptr);
  if (!file.ok()) return file.error();
  DWORD written = 0;
  platform::Status wrote =
      STARTER_CALL(WriteFile, file->get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  if (wrote.ok() && written != content.size()) wrote = platform::SystemError{"WriteFile", ERROR_WRITE_FAULT};
  if (wrote.ok()) return STARTER_CALL(CloseHandle, file->release());
  // A marker this run created and could not fill goes again: left empty or
  // short, it would count as present, and no later run would write it. It
  // goes through the handle that created it, never by its name, which may
  // name another file by now. One that cannot go stays; the write's failure
  // is what the caller logs.
  static_cast<void>(platform::DeleteWhenClosed(file->get(), kUnfilledMarkerRemovalBound));
  return wrote;
}

namespace {

// Whether a file or folder stands at `path`, by a look at its attributes;
// the failure when the look has no answer (access denied, say).
platform::Expected<bool> LookForEntry(const std::wstring& path) {
  if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const platform::SystemError failed = platform::LastError("GetFileAttributesW");
  if (platform::MeansNotThere(failed)) return false;
  return failed;
}

void CreateMarkerIfMissing(const std::wstring& path, std::string_view content, std::string_view name) {
  const platform::Expected<bool> there = LookForEntry(path);
  // A marker the starter cannot see is left alone, as IsFilePresent says,
  // and the log says why it was not created.
  if (!there.ok()) {
    log::Warn(L"create {} skipped->{} GLE={}", contract::Widen(name), path, there.error().code);
    return;
  }
  if (*there) return;
  // The success line is kept for a file really written and closed, so the
  // log never claims a marker the service will not find. A file that came
  // since the test above is left alone as one found by it is.
  if (const platform::Status written = WriteMarker(path, content); !written.ok()) {
    if (written.error().code != ERROR_FILE_EXISTS)
      log::Warn(L"create {} failed->{} GLE={}", contract::Widen(name), path, written.error().code);
    return;
  }
  log::Info("create {}", name);
}

}  // namespace

bool IsFilePresent(const std::wstring& path) {
  if (path.empty()) return false;
  const platform::Expected<bool> there = LookForEntry(path);
  return !there.ok() || *there;
}

std::optional<LeftoverMarker> RemoveConnectedMarker(const std::wstring& connected_marker) {
  if (!IsFilePresent(connected_marker)) return std::nullopt;
  log::Info("remove {}", contract::kConnectedMarker.name);
  // A read-only marker, or one another program holds, would otherwise stay
  // and pass for the new service's in the first poll.
  const platform::Status removed = platform::RemoveFile(connected_marker);
  if (removed.ok()) return std::nullopt;
  return ReportFailedRemoval(connected_marker, removed.error());
}

std::optional<LeftoverMarker> KeepConnectedMarker(const std::wstring& connected_marker) {
  return LeftoverOf(LookAt(connected_marker));
}

bool IsConnectedMarkerPresent(const std::wstring& connected_marker, const std::optional<LeftoverMarker>& leftover) {
  if (!leftover) return IsFilePresent(connected_marker);
  return IsServiceMarker(LookAt(connected_marker), *leftover);
}

void CreateMissingMarkers(const std::array<std::wstring, contract::kMarkerCount>& paths) {
  for (std::size_t i = 0; i < contract::kMarkerCount; ++i) {
    const contract::MarkerFile& marker = contract::kMarkerFiles[i];
    if (marker.writer == contract::MarkerWriter::kStarter) CreateMarkerIfMissing(paths[i], marker.content, marker.name);
  }
}

}  // namespace starter::install
