#include <iconv.h>
#include <idn2.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "mailclient/mime/system.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace mailclient {

std::string AnsiCharset() {
  const runtime::Activation activation("ANSICHARSET", __LINE__);
  // The character set of the user's locale, asked without changing the
  // program's own locale.
  std::string name;
  locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (user != static_cast<locale_t>(0)) {
    const char* codeset = ::nl_langinfo_l(CODESET, user);
    if (codeset != nullptr) name = codeset;
    ::freelocale(user);
  }
  name = runtime::AsciiLower(name);
  // Text that is not UTF-8 under a UTF-8 or ASCII locale most likely came
  // from a Windows machine; its usual code page is the best guess.
  if (name.empty() || name == "utf-8" || name == "utf8" || name == "ansi_x3.4-1968" || name == "us-ascii") {
    return "windows-1252";
  }
  return name;
}

bool AnsiToUtf8(std::string_view text, std::string& utf8) {
  const runtime::Activation activation("ANSITOUTF8", __LINE__);
  utf8.clear();
  iconv_t converter = ::iconv_open("UTF-8", AnsiCharset().c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in(text);
  char* from = in.data();
  std::size_t left = in.size();
  bool ok = true;
  while (left > 0 && ok) {
    char buffer[256];
    char* to = buffer;
    std::size_t room = sizeof buffer;
    const std::size_t done = ::iconv(converter, &from, &left, &to, &room);
    utf8.append(buffer, static_cast<std::size_t>(to - buffer));
    // A full buffer is the one failure worth going on after.
    ok = done != static_cast<std::size_t>(-1) || errno == E2BIG;
  }
  ::iconv_close(converter);
  return ok;
}

bool DomainToAscii(const std::string& utf8, std::string& ascii) {
  const runtime::Activation activation("DOMAINTOASCII", __LINE__);
  // IDNA2008 with the mapping of UTS 46 (non-transitional), as browsers
  // and mail programs resolve names today.
  char* out = nullptr;
  const int rc = ::idn2_to_ascii_8z(utf8.c_str(), &out, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
  if (rc != IDN2_OK || out == nullptr) {
    ::idn2_free(out);
    return false;
  }
  ascii = out;
  ::idn2_free(out);
  return true;
}

}  // namespace mailclient
