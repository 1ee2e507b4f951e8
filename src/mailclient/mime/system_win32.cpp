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

namespace mailclient {

std::string AnsiCharset() {
  const runtime::Activation activation("ANSICHARSET", __LINE__);
  const UINT page = ::GetACP();
  switch (page) {
    case 874: return "windows-874";
    case 932: return "shift_jis";
    case 936: return "gbk";
    case 949: return "euc-kr";
    case 950: return "big5";
    case 20866: return "koi8-r";
    case 28591: return "iso-8859-1";
    case 28605: return "iso-8859-15";
    default: break;
  }
  if (page >= 1250 && page <= 1258) return "windows-" + std::to_string(page);
  return "windows-1252";
}

namespace {

// `text` in code page `page` as UTF-16; false when a byte is not defined
// there.
bool Widen(UINT page, std::string_view text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<std::size_t>(n));
  return ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n) == n;
}

bool Narrow(UINT page, const std::wstring& wide, std::string& text) {
  text.clear();
  if (wide.empty()) return true;
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  text.resize(static_cast<std::size_t>(n));
  return ::WideCharToMultiByte(page, 0, wide.data(), size, text.data(), n, nullptr, nullptr) == n;
}

}  // namespace

bool AnsiToUtf8(std::string_view text, std::string& utf8) {
  const runtime::Activation activation("ANSITOUTF8", __LINE__);
  std::wstring wide;
  return Widen(CP_ACP, text, wide) && Narrow(CP_UTF8, wide, utf8);
}

bool DomainToAscii(const std::string& utf8, std::string& ascii) {
  const runtime::Activation activation("DOMAINTOASCII", __LINE__);
  std::wstring wide;
  if (!Widen(CP_UTF8, utf8, wide) || wide.empty()) return false;
  const int size = static_cast<int>(wide.size());
  const int n = ::IdnToAscii(0, wide.data(), size, nullptr, 0);
  if (n <= 0) return false;
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  if (::IdnToAscii(0, wide.data(), size, out.data(), n) != n) return false;
  return Narrow(CP_UTF8, out, ascii);
}

}  // namespace mailclient
