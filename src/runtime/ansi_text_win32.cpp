#include <windows.h>

#include <string>

#include "runtime/activation.h"
#include "runtime/ansi_text.h"

namespace runtime {

std::string AnsiCharset() {
  const Activation activation("ANSICHARSET", __LINE__);
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

}  // namespace runtime
