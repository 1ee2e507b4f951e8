// The Windows locale items from the C library's locale. The environment
// chooses the locale (LC_ALL, LC_NUMERIC and LC_TIME, LANG) as for any
// program; the program's own locale stays "C", so that no conversion of
// the run-time changes behind its back. A process with no locale set, or
// the plain C locale, has no locale information: every query fails.
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <string>

#include "env/locale_info.h"
#include "runtime/activation.h"

namespace env {

namespace {
bool IsPlainC(const char* name) {
  if (name == nullptr || *name == '\0') return true;
  const std::string n = name;
  return n == "C" || n == "POSIX" || n.rfind("C.", 0) == 0;
}

bool LocaleConfigured() {
  for (const char* var : {"LC_ALL", "LC_NUMERIC", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != '\0') return !IsPlainC(value);
  }
  return false;
}

// The fields of a strftime date format in order: 'd', 'm', 'y' or 'Y'; and
// the first character that separates two of them.
void DateFields(const std::string& format, std::string& order, char& separator) {
  std::string expanded;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      char c = format[++i];
      if (c == 'D') {
        expanded += "%m/%d/%y";
      } else if (c == 'F') {
        expanded += "%Y-%m-%d";
      } else {
        expanded += '%';
        expanded += c;
      }
    } else {
      expanded += format[i];
    }
  }
  separator = '\0';
  for (std::size_t i = 0; i < expanded.size(); ++i) {
    if (expanded[i] == '%' && i + 1 < expanded.size()) {
      char c = expanded[++i];
      if (c == 'd' || c == 'e' || c == 'm' || c == 'y' || c == 'Y') order += c == 'e' ? 'd' : c;
    } else if (!order.empty() && separator == '\0') {
      separator = expanded[i];
    }
  }
}

std::string ItemText(unsigned item, locale_t loc) {
  switch (item) {
    case kLocaleSDecimal:
      return nl_langinfo_l(RADIXCHAR, loc);
    case kLocaleSThousand:
      return nl_langinfo_l(THOUSEP, loc);
    case kLocaleSTime: {
      const std::string t = nl_langinfo_l(T_FMT, loc);
      if (t.find("%T") != std::string::npos || t.find("%r") != std::string::npos) return ":";
      std::size_t i = t.find('%');
      return i != std::string::npos && i + 2 < t.size() && t[i + 2] != '%' ? t.substr(i + 2, 1) : ":";
    }
    case kLocaleITime: {
      const std::string t = nl_langinfo_l(T_FMT, loc);
      const bool twelve = t.find("%I") != std::string::npos || t.find("%r") != std::string::npos ||
                          t.find("%l") != std::string::npos;
      return twelve ? "0" : "1";
    }
    case kLocaleS1159:
      return nl_langinfo_l(AM_STR, loc);
    case kLocaleS2359:
      return nl_langinfo_l(PM_STR, loc);
    case kLocaleIDate:
    case kLocaleSDate:
    case kLocaleSShortDate: {
      std::string order;
      char separator = '/';
      DateFields(nl_langinfo_l(D_FMT, loc), order, separator);
      if (item == kLocaleSDate) return std::string(1, separator != '\0' ? separator : '/');
      if (item == kLocaleIDate) {
        if (!order.empty() && order[0] == 'd') return "1";
        if (!order.empty() && (order[0] == 'y' || order[0] == 'Y')) return "2";
        return "0";
      }
      std::string pattern;
      for (char c : order) {
        if (!pattern.empty()) pattern += separator;
        pattern += c == 'd' ? "dd" : c == 'm' ? "MM" : c == 'Y' ? "yyyy" : "yy";
      }
      return pattern;
    }
    case kLocaleIDigits: {
      // The count of decimals that the locale gives money; numbers follow it.
      const char* digits = nl_langinfo_l(FRAC_DIGITS, loc);
      const int n = digits != nullptr ? static_cast<unsigned char>(digits[0]) : 2;
      return std::to_string(n >= 0 && n <= 9 ? n : 2);
    }
    default:
      return std::string(1, '\x01');  // marks an unknown item
  }
}
}  // namespace

namespace detail {

int UserLocaleInfo(unsigned item, char* buffer, int size) {
  const runtime::Activation activation("USERLOCALEINFO", __LINE__);
  if (!LocaleConfigured()) return 0;
  locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) return 0;
  const std::string text = ItemText(item, loc);
  freelocale(loc);
  if (text == "\x01" || size <= 0 || text.size() + 1 > static_cast<std::size_t>(size)) return 0;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<int>(text.size() + 1);
}

}  // namespace detail

}  // namespace env
