#include "contract/product_contract.h"

#include <cstring>

namespace starter::contract {
namespace {

bool Is(const char* argument, const char* text) { return std::strcmp(argument, text) == 0; }

}  // namespace

CallerMode ClassifyCallerMode(int argc, const char* const* argv) {
  if (argc < 3) return CallerMode::kAllChecks;
  if (Is(argv[1], "--Dravel") && Is(argv[2], "Brimvale")) return CallerMode::kPort;
  if (Is(argv[1], "--BrandleAgent")) {
    if (Is(argv[2], "Dravel") || Is(argv[2], "Selkan")) return CallerMode::kProcessAndFile;
    if (Is(argv[2], "UninstallReport")) return CallerMode::kUninstallReport;
  }
  return CallerMode::kNone;
}

const char* TimeoutLine(CallerMode mode) {
  switch (mode) {
    case CallerMode::kAllChecks: return kAllTimeoutLine;
    case CallerMode::kPort: return kPortTimeoutLine;
    case CallerMode::kProcessAndFile: return kProcessTimeoutLine;
    case CallerMode::kUninstallReport:
    case CallerMode::kNone: break;
  }
  return nullptr;
}

std::chrono::seconds RunLimit(CallerMode mode) {
  return TimeoutLine(mode) ? kWaitingModeRunLimit : kOtherModeRunLimit;
}

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring UnderRoot(const std::wstring& root, std::string_view relative) {
  if (root.empty()) return {};
  return root + Widen(relative);
}

}  // namespace starter::contract
