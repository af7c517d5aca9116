#include "log/writers_mutex.h"

#include <cwctype>

namespace starter::log {

std::wstring WritersMutexName(std::wstring_view log_path) {
  std::wstring name = L"zephra_vantic_starter_log:";
  for (wchar_t c : log_path) name += (c == L'\\') ? L'/' : static_cast<wchar_t>(std::towlower(c));
  return name;
}

bool ObtainWritersMutex(const std::function<MutexCall(MutexScope)>& create,
                        const std::function<MutexCall(MutexScope)>& open) {
  for (MutexScope scope : {MutexScope::kGlobal, MutexScope::kLocal}) {
    const MutexCall created = create(scope);
    if (created == MutexCall::kGot) return true;
    // Only a refusal says the mutex exists: any other failure leaves nothing to open.
    if (created == MutexCall::kAccessDenied && open(scope) == MutexCall::kGot) return true;
  }
  return false;
}

}  // namespace starter::log
