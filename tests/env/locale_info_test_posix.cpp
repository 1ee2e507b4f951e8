// The C library's locale read as Windows locale items, and the settings
// that the locale variables of the environment give.
#include "env/locale_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "env/international.h"
#include "runtime/format.h"

namespace {

constexpr const char* kLocaleVariables[] = {"LC_ALL", "LC_CTYPE", "LC_NUMERIC", "LC_TIME", "LANG"};

// Sets the locale variables from `assignments` ("LANG=de_DE.UTF-8 LC_TIME=C",
// the others unset) for as long as it lives.
class LocaleEnvironment {
 public:
  explicit LocaleEnvironment(const std::string& assignments) {
    for (const char* var : kLocaleVariables) {
      if (const char* value = std::getenv(var)) saved_.emplace_back(var, value);
      ::unsetenv(var);
    }
    std::istringstream in(assignments);
    for (std::string one; in >> one;) {
      const std::size_t eq = one.find('=');
      ::setenv(one.substr(0, eq).c_str(), one.substr(eq + 1).c_str(), 1);
    }
  }
  ~LocaleEnvironment() {
    for (const char* var : kLocaleVariables) ::unsetenv(var);
    for (const auto& [var, value] : saved_) ::setenv(var.c_str(), value.c_str(), 1);
  }

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};

// The item as the locale `name` gives it; "<none>" where it gives none.
std::string Item(const char* name, unsigned item) {
  const LocaleEnvironment environment(std::string("LC_ALL=") + name);
  char buffer[64];
  const int count = env::detail::UserLocaleInfo(item, buffer, sizeof buffer);
  return count > 0 ? std::string(buffer, static_cast<std::size_t>(count - 1)) : "<none>";
}

}  // namespace

// Every setting is one character of the ANSI code page (windows-1252 under
// a UTF-8 locale, else the locale's own single-byte set), never the first
// byte of a UTF-8 sequence; a character with no form there becomes its
// nearest ASCII one, or the default when it has none. Numbers follow
// LC_NUMERIC, dates and the clock LC_TIME, each on its own.
TEST(SetInternationalFromEnvironment, SeparatorsAreSingleBytesAndCategoriesStandAlone) {
  for (const char* locale :
       {"de_DE.UTF-8", "ja_JP.UTF-8", "fr_FR.UTF-8", "sv_SE.UTF-8", "de_CH.UTF-8", "fr_FR", "en_US.UTF-8"}) {
    if (Item(locale, env::kLocaleIDate) == "<none>") GTEST_SKIP() << locale << " is not installed (locales-all)";
  }
  struct Case {
    const char* environment;
    char decimal_sep;
    char thousand_sep;
    char time_sep;
    const char* date;
    const char* am;  // "" on a 24-hour clock
  } cases[] = {
      {"LANG=fr_FR.UTF-8", ',', ' ', ':', "07/12/2026", ""},       // narrow no-break space
      {"LANG=sv_SE.UTF-8", ',', ' ', ':', "2026-12-07", ""},
      {"LANG=de_CH.UTF-8", '.', '\x92', ':', "07.12.2026", ""},   // right single quote
      {"LANG=fr_FR", ',', '\xA0', ':', "07/12/2026", ""},         // ISO-8859-1 no-break space
      {"LANG=ja_JP.UTF-8", '.', ',', ':', "2026/12/07", ""},       // kanji separators
      {"LANG=en_US.UTF-8", '.', ',', ':', "12/07/2026", " AM"},
      {"LANG=de_DE.UTF-8 LC_NUMERIC=C", '.', ',', ':', "07.12.2026", ""},
      {"LANG=de_DE.UTF-8 LC_TIME=C", ',', '.', ':', "12/07/2026", " am"},
      {"LANG=C LC_NUMERIC=de_DE.UTF-8", ',', '.', ':', "12/07/2026", " am"},
      {"LC_ALL=C LANG=de_DE.UTF-8 LC_TIME=de_DE.UTF-8", '.', ',', ':', "12/07/2026", " am"},
      {"LANG=xx_NOWHERE", '.', ',', ':', "12/07/2026", " am"},
  };
  for (const Case& c : cases) {
    {
      const LocaleEnvironment environment(c.environment);
      SetInternational(runtime::Symbol{"Windows"});
    }
    const runtime::FormatSettings& f = runtime::Formats();
    EXPECT_EQ(f.decimal_sep, c.decimal_sep) << c.environment;
    EXPECT_EQ(f.thousand_sep, c.thousand_sep) << c.environment;
    EXPECT_EQ(f.time_sep, c.time_sep) << c.environment;
    EXPECT_EQ(runtime::DToC(runtime::Date{2026, 12, 7}), c.date) << c.environment;
    EXPECT_EQ(f.am_pm ? f.am_ext : "", c.am) << c.environment;
    // Decimals of numbers, not of money: the yen has none.
    EXPECT_EQ(f.decimals, 2) << c.environment;
    runtime::ResetFormats();
  }
}
