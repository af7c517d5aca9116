#include "contract/product_contract.h"

#include <cstring>

namespace starter::contract {
namespace {

bool Is(const char* argument, const char* text) { return std::strcmp(argument, text) == 0; }

}  // namespace

CallerMode ClassifyCallerMode(int argc, const char* const* argv) {
  if (argc < 3) return CallerMode::kNoArgument;
  if (Is(argv[1], "--Dravel") && Is(argv[2], "Brimvale")) return CallerMode::kPort;
  if (Is(argv[1], "--BrandleAgent")) {
    if (Is(argv[2], "Dravel") || Is(argv[2], "Selkan")) return CallerMode::kProcessAndFile;
    if (Is(argv[2], "UninstallReport")) return CallerMode::kUninstallReport;
  }
  return CallerMode::kNone;
}

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring UnderRoot(const std::wstring& root, std::string_view relative) {
  if (root.empty()) return {};
  return root + Widen(relative);
}

}  // namespace starter::contract
