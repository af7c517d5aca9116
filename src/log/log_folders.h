#pragma once
// The log's folders, reached for the run, and how the sink reports what kept
// it from its folders or its file: spdlog expects a sink to throw
// spdlog::spdlog_ex, which stops the creation of the logger or loses the one
// line being written.
#include <string>
#include <vector>

#include "log/log_location.h"
#include "log/log_refusal.h"
#include "platform/handles.h"
#include "platform/system_error.h"

namespace starter::log {

// Creates the missing system folders by their path and opens the innermost.
// Then opens each of the starter's own folders inside the one before,
// creating it when missing, without following a link; one that is a link is
// refused, and nothing is made or opened beneath it. Returns the folders,
// system folder first, held without delete sharing so that none can be
// renamed or replaced while the logger lives.
std::vector<platform::UniqueHandle> HoldLogFolders(const LogLocation& location);

[[noreturn]] void ThrowFailure(const char* what, const std::wstring& path, const platform::SystemError& error);
[[noreturn]] void ThrowRefusal(Refusal refusal, const std::wstring& path);

}  // namespace starter::log
