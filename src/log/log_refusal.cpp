#include "log/log_refusal.h"

namespace starter::log {
namespace {

bool IsLink(std::uint32_t attributes) { return (attributes & platform::kAttributeReparsePoint) != 0; }

bool IsLink(const platform::EntryFacts& held) { return IsLink(held.attributes) || held.reparse_tag != 0; }

}  // namespace

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
