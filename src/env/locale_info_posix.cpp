// The Windows locale items from the C library's locale. The environment
// chooses the locale category by category, as for any program: the number
// items follow LC_NUMERIC, the date and time items LC_TIME (LC_ALL before
// either, LANG after). The program's own locale stays "C", so that no
// conversion of the run-time changes behind its back. A category with no
// locale set, or the plain C locale, has no locale information: its queries
// fail and the caller takes its defaults.
//
// The texts come, as from GetLocaleInfoA, in the ANSI code page: the
// character set of LC_CTYPE when that is a single-byte one, else
// windows-1252, the code page of the program's Windows home. A character
// that the code page lacks becomes its nearest ASCII one; a separator that
// has neither is no answer at all, never a piece of a multi-byte sequence.
#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <optional>
#include <string>
#include <string_view>

#include "env/locale_info.h"
#include "runtime/activation.h"
#include "runtime/ansi_text.h"

namespace env {

namespace {
bool IsPlainC(const std::string& name) {
  return name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

// The locale that the environment names for one category.
std::string CategoryLocaleName(const char* variable) {
  for (const char* var : {"LC_ALL", variable, "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

// The whole locale of that name, or none for the plain C locale and for
// names the system does not know.
class NamedLocale {
 public:
  explicit NamedLocale(const std::string& name)
      : locale_(IsPlainC(name) ? static_cast<locale_t>(nullptr)
                               : ::newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr))) {}
  ~NamedLocale() {
    if (locale_ != static_cast<locale_t>(nullptr)) ::freelocale(locale_);
  }
  NamedLocale(const NamedLocale&) = delete;
  NamedLocale& operator=(const NamedLocale&) = delete;

  explicit operator bool() const { return locale_ != static_cast<locale_t>(nullptr); }
  const char* Item(nl_item item) const { return ::nl_langinfo_l(item, locale_); }
  /// The item's text in UTF-8, whatever the locale's character set.
  std::string Utf8Item(nl_item item) const;

 private:
  locale_t locale_;
};

// `text` in the character set `to`; nothing when iconv cannot convert it.
std::optional<std::string> Convert(std::string_view text, const std::string& from, const std::string& to) {
  const iconv_t cd = ::iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(text.size() * 4 + 16, '\0');
  std::string in(text);
  char* in_at = in.data();
  std::size_t in_left = in.size();
  char* out_at = out.data();
  std::size_t out_left = out.size();
  const std::size_t done = ::iconv(cd, &in_at, &in_left, &out_at, &out_left);
  ::iconv_close(cd);
  if (done == static_cast<std::size_t>(-1)) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

std::string NamedLocale::Utf8Item(nl_item item) const {
  const std::string codeset = Item(CODESET);
  std::string text = Item(item);
  if (codeset == "UTF-8") return text;
  return Convert(text, codeset, "UTF-8").value_or(text);
}

std::size_t Utf8Length(char lead) {
  const auto b = static_cast<unsigned char>(lead);
  return b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
}

// One UTF-8 character as one byte of the ANSI code page, or its nearest
// ASCII character; nothing when it has neither.
std::optional<char> AnsiCharacter(std::string_view ch, const std::string& ansi) {
  if (ch.size() == 1 && static_cast<unsigned char>(ch[0]) < 0x80) return ch[0];
  if (const auto exact = Convert(ch, "UTF-8", ansi); exact && exact->size() == 1) return (*exact)[0];
  const auto near = Convert(ch, "UTF-8", "ASCII//TRANSLIT");
  if (near && !near->empty() && (*near)[0] != '?') return (*near)[0];
  return std::nullopt;
}

// A UTF-8 text in the ANSI code page; a character with no form there
// becomes "?", as WideCharToMultiByte's default character.
std::string AnsiText(std::string_view utf8, const std::string& ansi) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t n = std::min(Utf8Length(utf8[i]), utf8.size() - i);
    out += AnsiCharacter(utf8.substr(i, n), ansi).value_or('?');
    i += n;
  }
  return out;
}

// The UTF-8 character at `at` of `text`, whole.
std::string CharacterAt(const std::string& text, std::size_t at) {
  return text.substr(at, Utf8Length(text[at]));
}

// The fields of a strftime date format in order: 'd', 'm', 'y' or 'Y'; and
// the first character (UTF-8) that separates two of them.
void DateFields(const std::string& format, std::string& order, std::string& separator) {
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
  separator.clear();
  for (std::size_t i = 0; i < expanded.size(); ++i) {
    if (expanded[i] == '%' && i + 1 < expanded.size()) {
      char c = expanded[++i];
      if (c == 'd' || c == 'e' || c == 'm' || c == 'y' || c == 'Y') order += c == 'e' ? 'd' : c;
    } else if (!order.empty() && separator.empty()) {
      separator = CharacterAt(expanded, i);
    }
  }
}

bool IsNumberItem(unsigned item) {
  return item == kLocaleSDecimal || item == kLocaleSThousand || item == kLocaleIDigits;
}

bool IsSeparatorItem(unsigned item) {
  return item == kLocaleSDecimal || item == kLocaleSThousand || item == kLocaleSTime || item == kLocaleSDate;
}

// The item's text in UTF-8.
std::string ItemText(unsigned item, const NamedLocale& loc) {
  switch (item) {
    case kLocaleSDecimal:
      return loc.Utf8Item(RADIXCHAR);
    case kLocaleSThousand:
      return loc.Utf8Item(THOUSEP);
    case kLocaleSTime: {
      const std::string t = loc.Utf8Item(T_FMT);
      if (t.find("%T") != std::string::npos || t.find("%r") != std::string::npos) return ":";
      std::size_t i = t.find('%');
      return i != std::string::npos && i + 2 < t.size() && t[i + 2] != '%' ? CharacterAt(t, i + 2) : ":";
    }
    case kLocaleITime: {
      const std::string t = loc.Utf8Item(T_FMT);
      const bool twelve = t.find("%I") != std::string::npos || t.find("%r") != std::string::npos ||
                          t.find("%l") != std::string::npos;
      return twelve ? "0" : "1";
    }
    case kLocaleS1159:
      return loc.Utf8Item(AM_STR);
    case kLocaleS2359:
      return loc.Utf8Item(PM_STR);
    case kLocaleIDate:
    case kLocaleSDate:
    case kLocaleSShortDate: {
      std::string order;
      std::string separator;
      DateFields(loc.Utf8Item(D_FMT), order, separator);
      if (separator.empty()) separator = "/";
      if (item == kLocaleSDate) return separator;
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
    case kLocaleIDigits:
      // The C library knows decimals for money only (FRAC_DIGITS, 0 for the
      // yen), none for plain numbers; Windows gives 2 in nearly every locale.
      return "2";
    default:
      return std::string(1, '\x01');  // marks an unknown item
  }
}
}  // namespace

namespace detail {

int UserLocaleInfo(unsigned item, char* buffer, int size) {
  const runtime::Activation activation("USERLOCALEINFO", __LINE__);
  const NamedLocale loc(CategoryLocaleName(IsNumberItem(item) ? "LC_NUMERIC" : "LC_TIME"));
  if (!loc) return 0;
  std::string text = ItemText(item, loc);
  if (text == "\x01") return 0;
  const std::string ansi = runtime::AnsiCharset();
  if (IsSeparatorItem(item) && !text.empty()) {
    const auto ch = AnsiCharacter(CharacterAt(text, 0), ansi);
    if (!ch) return 0;
    text.assign(1, *ch);
  } else {
    text = AnsiText(text, ansi);
  }
  if (size <= 0 || text.size() + 1 > static_cast<std::size_t>(size)) return 0;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<int>(text.size() + 1);
}

}  // namespace detail

}  // namespace env
