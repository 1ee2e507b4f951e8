#include <windows.h>

#include <cstdio>

#include "runtime/system_text.h"
#include "runtime/wide_text_win32.h"

namespace runtime {

// The wide text, so that the reason joins the program's own (UTF-8) lines
// in any display language.
std::string SystemErrorText(unsigned long code) {
  wchar_t* text = nullptr;
  DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason;
  if (n > 0 && text != nullptr) {
    reason = TextFromWide(std::wstring_view(text, n));
  } else if (code & 0x80000000UL) {
    // An HRESULT reads in hex, as its documentation writes it.
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", code);
    reason = std::string("system error ") + hex;
  } else {
    reason = "system error " + std::to_string(code);
  }
  if (text != nullptr) ::LocalFree(text);
  while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' ||
                             reason.back() == ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  return reason;
}

}  // namespace runtime
