// The C library's locale read as Windows locale items.
#include "env/locale_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Runs with the environment's locale set to `name` and gives the item.
std::string Item(const char* name, unsigned item) {
  const char* lc_all = std::getenv("LC_ALL");
  const std::string saved = lc_all != nullptr ? lc_all : "";
  ::setenv("LC_ALL", name, 1);
  char buffer[64];
  const int count = env::detail::UserLocaleInfo(item, buffer, sizeof buffer);
  if (lc_all != nullptr) {
    ::setenv("LC_ALL", saved.c_str(), 1);
  } else {
    ::unsetenv("LC_ALL");
  }
  return count > 0 ? std::string(buffer, static_cast<std::size_t>(count - 1)) : "<none>";
}

TEST(UserLocaleInfo, GermanAndAmericanLocales) {
  if (Item("de_DE.UTF-8", env::kLocaleSDecimal) == "<none>") GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  struct Case {
    const char* locale;
    unsigned item;
    const char* text;
  } cases[] = {
      {"de_DE.UTF-8", env::kLocaleSDecimal, ","},   {"de_DE.UTF-8", env::kLocaleSThousand, "."},
      {"de_DE.UTF-8", env::kLocaleIDate, "1"},      {"de_DE.UTF-8", env::kLocaleSDate, "."},
      {"de_DE.UTF-8", env::kLocaleSShortDate, "dd.MM.yyyy"},
      {"de_DE.UTF-8", env::kLocaleITime, "1"},      {"de_DE.UTF-8", env::kLocaleS1159, ""},
      {"de_DE.UTF-8", env::kLocaleIDigits, "2"},    {"en_US.UTF-8", env::kLocaleSDecimal, "."},
      {"en_US.UTF-8", env::kLocaleIDate, "0"},      {"en_US.UTF-8", env::kLocaleITime, "0"},
      {"en_US.UTF-8", env::kLocaleS1159, "AM"},     {"C", env::kLocaleSDecimal, "<none>"},
      {"POSIX", env::kLocaleIDate, "<none>"},       {"xx_NOWHERE", env::kLocaleSDecimal, "<none>"},
  };
  for (const Case& c : cases) EXPECT_EQ(Item(c.locale, c.item), c.text) << c.locale << " " << c.item;
}

}  // namespace
