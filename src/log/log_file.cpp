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
    const platform::Status created = calls.Create(scope);
    if (created.ok()) return true;
    // Only a refusal says the mutex exists: any other failure leaves nothing to open.
    if (created.error().code == platform::kErrorAccessDenied && calls.Open(scope).ok()) return true;
  }
  return false;
}

platform::Status OpenLogWith(LogOpenSteps& steps, OpenPatience& patience) {
  const int tries = patience.NextTries();
  for (int tried = 1;; ++tried) {
    platform::Status opened = steps.Open();
    const bool held = !opened.ok() && platform::MeansNotNow(opened.error());
    if (!held || tried == tries) {
      patience.Record(held);
      return opened;
    }
    steps.Pause(kLogOpenRetry);
  }
}

}  // namespace starter::log
