#include <string>
#include <string_view>

#include <windows.h>
#include <winnls.h>

// MSVC finds IdnToAscii in normaliz; mingw-w64 has it in kernel32.
#if defined(_MSC_VER)
#pragma comment(lib, "normaliz")
#endif

#include "mailclient/mime/system.h"
#include "runtime/activation.h"
#include "runtime/unicode.h"
#include "runtime/wide_text_win32.h"

namespace mailclient {

bool DomainToAscii(const std::string& utf8, std::string& ascii) {
  const runtime::Activation activation("DOMAINTOASCII", __LINE__);
  std::u16string utf16;
  if (!runtime::Utf8ToUtf16(utf8, utf16) || utf16.empty()) return false;
  const std::wstring wide(utf16.begin(), utf16.end());
  const int size = static_cast<int>(wide.size());
  const int n = ::IdnToAscii(0, wide.data(), size, nullptr, 0);
  if (n <= 0) return false;
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  if (::IdnToAscii(0, wide.data(), size, out.data(), n) != n) return false;
  return runtime::TextFromWide(out, ascii);
}

}  // namespace mailclient
