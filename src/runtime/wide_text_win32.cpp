#include "runtime/wide_text_win32.h"

#include <windows.h>

#include "runtime/ansi_text.h"
#include "runtime/unicode.h"

namespace runtime {

namespace {

// `text` in the ANSI code page as UTF-16; false when a byte is not defined
// there (it then stands as the code page's default character).
bool AnsiToWide(std::string_view text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  bool ok = true;
  int n = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) {
    ok = false;
    n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  }
  wide.resize(static_cast<std::size_t>(n > 0 ? n : 0));
  return ::MultiByteToWideChar(CP_ACP, ok ? MB_ERR_INVALID_CHARS : 0, text.data(), size, wide.data(), n) == n && ok;
}

}  // namespace

std::wstring WideText(std::string_view text) {
  std::u16string utf16;
  if (Utf8ToUtf16(text, utf16)) return std::wstring(utf16.begin(), utf16.end());
  std::wstring wide;
  AnsiToWide(text, wide);
  return wide;
}

bool TextFromWide(std::wstring_view wide, std::string& text) {
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()), text);
}

std::string TextFromWide(std::wstring_view wide) {
  std::string text;
  TextFromWide(wide, text);
  return text;
}

bool AnsiToUtf8(std::string_view text, std::string& utf8) {
  std::wstring wide;
  const bool defined = AnsiToWide(text, wide);
  TextFromWide(wide, utf8);
  return defined;
}

bool TextAsUtf8(std::string_view text, std::string& utf8) {
  std::u16string utf16;
  if (Utf8ToUtf16(text, utf16)) {
    utf8 = text;
    return true;
  }
  return AnsiToUtf8(text, utf8);
}

}  // namespace runtime
