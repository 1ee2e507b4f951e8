#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <string>

#include "runtime/activation.h"
#include "runtime/ansi_text.h"
#include "runtime/ascii.h"

namespace runtime {

std::string AnsiCharset() {
  const Activation activation("ANSICHARSET", __LINE__);
  // The character set of the user's locale, asked without changing the
  // program's own locale.
  std::string name;
  locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (user != static_cast<locale_t>(0)) {
    const char* codeset = ::nl_langinfo_l(CODESET, user);
    if (codeset != nullptr) name = codeset;
    ::freelocale(user);
  }
  name = AsciiLower(name);
  // Text that is not UTF-8 under a UTF-8 or ASCII locale most likely came
  // from a Windows machine; its usual code page is the best guess.
  if (name.empty() || name == "utf-8" || name == "utf8" || name == "ansi_x3.4-1968" || name == "us-ascii") {
    return "windows-1252";
  }
  return name;
}

bool AnsiToUtf8(std::string_view text, std::string& utf8) {
  const Activation activation("ANSITOUTF8", __LINE__);
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

}  // namespace runtime
