// The locale set-up: what each locale item gives, the fallbacks, and an
// error on the way.
#include "env/international.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "env/locale_info.h"
#include "runtime/error_slot.h"
#include "runtime/format.h"

namespace {

using Items = std::map<unsigned, std::string>;

class InternationalTest : public ::testing::Test {
 protected:
  void TearDown() override {
    env::SetLocaleSource(nullptr);
    runtime::ResetFormats();
  }
  // Applies a locale made of `items`; an item not listed fails its query.
  void Apply(const Items& items) {
    env::SetLocaleSource([items](unsigned item, char* buffer, int size) {
      auto it = items.find(item);
      if (it == items.end() || static_cast<int>(it->second.size()) + 1 > size) return 0;
      std::memcpy(buffer, it->second.c_str(), it->second.size() + 1);
      return static_cast<int>(it->second.size() + 1);
    });
    // Start from settings that no locale gives, so that every step shows.
    runtime::SetDecimalSep('#');
    runtime::SetDateFrmt("?");
    runtime::SetCentury(false);
    runtime::SetEpoch(1);
    runtime::SetDecimal(9);
    SetInternational(runtime::Symbol{"Windows"});
  }
};

// Every setting on one line, so that a case shows all of them at once.
std::string Summary(const runtime::FormatSettings& f) {
  const auto sep = [](char c) { return c == '\0' ? std::string("none") : std::string(1, c); };
  return sep(f.decimal_sep) + " " + sep(f.thousand_sep) + " " + sep(f.time_sep) + (f.am_pm ? " 12h '" : " 24h '") +
         f.am_ext + "' '" + f.pm_ext + "' " + f.date_format + " " + std::to_string(f.decimals) +
         (f.century ? " century " : " ") + std::to_string(f.epoch) + " " + std::to_string(f.international) +
         std::to_string(f.collation);
}

TEST_F(InternationalTest, EachItemOrItsFallback) {
  struct Case {
    const char* name;
    Items items;
    const char* settings;
  } cases[] = {
      {"no locale information", {}, ". , : 12h ' am' ' pm' MM/DD/YY 2 century 1910 11"},
      {"German",
       {{env::kLocaleSDecimal, ","}, {env::kLocaleSThousand, "."}, {env::kLocaleSTime, ":"},
        {env::kLocaleITime, "1"}, {env::kLocaleS1159, ""}, {env::kLocaleS2359, ""}, {env::kLocaleIDate, "1"},
        {env::kLocaleSDate, "."}, {env::kLocaleSShortDate, "dd.MM.yyyy"}, {env::kLocaleIDigits, "3"}},
       ", . : 24h ' ' ' ' DD.MM.YYYY 3 century 1910 11"},
      {"empty separators, twelve-hour clock",
       {{env::kLocaleSDecimal, ""}, {env::kLocaleSThousand, ""}, {env::kLocaleSTime, ""},
        {env::kLocaleITime, "0"}, {env::kLocaleS1159, "AM"}},
       "none none none 12h ' AM' ' pm' MM/DD/YY 2 century 1910 11"},
      {"a two-digit year", {{env::kLocaleIDate, "2"}, {env::kLocaleSDate, "-"}, {env::kLocaleSShortDate, "yy-MM-dd"}},
       ". , : 12h ' am' ' pm' YY-MM-DD 2 century 1910 11"},
      {"an unknown date order", {{env::kLocaleIDate, "7"}, {env::kLocaleSDate, "/"}, {env::kLocaleSShortDate, "yyyy"}},
       ". , : 12h ' am' ' pm' MM/DD/YYYY 2 century 1910 11"},
  };
  for (const Case& c : cases) {
    Apply(c.items);
    EXPECT_EQ(Summary(runtime::Formats()), c.settings) << c.name;
  }
}

TEST_F(InternationalTest, AnErrorStopsTheWorkAndTheHandlerComesBack) {
  int outer_calls = 0;
  const runtime::ErrorHandler previous =
      runtime::ErrorBlock([&outer_calls](const runtime::Value&) -> runtime::Value {
        ++outer_calls;
        return runtime::Value(false);
      });
  // The locale source fails on the date order with a run-time error.
  env::SetLocaleSource([](unsigned item, char* buffer, int) {
    if (item == env::kLocaleIDate) {
      runtime::RaiseError(runtime::ErrorStructure{.GenCode = 6, .CanDefault = 1});
      ADD_FAILURE() << "the error must leave the locale set-up";
    }
    if (item == env::kLocaleSDecimal) {
      std::strcpy(buffer, ",");
      return 2;
    }
    return 0;
  });
  runtime::SetDateFrmt("?");
  runtime::SetEpoch(1);
  const runtime::ErrorFunction function = runtime::ErrorFunc([](const runtime::Value& p) { return p; });
  SetInternational(runtime::Symbol{"Windows"});
  runtime::ErrorFunc(function);
  // Set before the error: the separators and the clock; the date format,
  // the epoch and the collation are not reached.
  EXPECT_EQ(Summary(runtime::Formats()), ", , : 12h ' am' ' pm' ? 2 century 1 10");
  EXPECT_EQ(outer_calls, 0);
  ASSERT_TRUE(runtime::ErrorBlock());
  runtime::ErrorBlock()(runtime::Value());
  EXPECT_EQ(outer_calls, 1);
  runtime::ErrorBlock(previous);
}

}  // namespace
