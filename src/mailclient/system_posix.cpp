#include <langinfo.h>
#include <locale.h>
#include <string>

#include "mailclient/system.h"
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

}  // namespace mailclient
