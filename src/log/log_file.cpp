#include "log/log_file.h"

#include <cwctype>

namespace starter::log {

std::wstring WritersMutexName(std::wstring_view log_path) {
  std::wstring name = L"zephra_vantic_starter_log:";
  for (wchar_t c : log_path) name += (c == L'\\') ? L'/' : static_cast<wchar_t>(std::towlower(c));
  return name;
}

bool ObtainWritersMutex(WritersMutexCalls& calls) {
  for (MutexScope scope : {MutexScope::kGlobal, MutexScope::kLocal}) {
    const MutexCall created = calls.Create(scope);
    if (created == MutexCall::kGot) return true;
    // Only a refusal says the mutex exists: any other failure leaves nothing to open.
    if (created == MutexCall::kAccessDenied && calls.Open(scope) == MutexCall::kGot) return true;
  }
  return false;
}

platform::Status OpenLogWith(LogOpenSteps& steps) {
  for (int tries = 1;; ++tries) {
    platform::Status opened = steps.Open();
    if (opened.ok() || opened.error().code != platform::kStatusOplockBreakInProgress ||
        opened.error().space != platform::ErrorSpace::kNtStatus || tries == kLogOpenTries)
      return opened;
    steps.Pause(kLogOpenRetry);
  }
}

}  // namespace starter::log
