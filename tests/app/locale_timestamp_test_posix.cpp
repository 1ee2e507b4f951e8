// The seconds of the message identifier follow the user's locale once the
// start-up has taken it: a German locale gives a decimal comma.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "app/postrine.h"
#include "env/international.h"
#include "runtime/format.h"

TEST(GetTimeStamp, GermanLocaleGivesADecimalComma) {
  ::setenv("LC_ALL", "de_DE.UTF-8", 1);
  SetInternational(runtime::Symbol{"Windows"});
  ::unsetenv("LC_ALL");
  if (runtime::Formats().decimal_sep != ',') {
    runtime::ResetFormats();
    GTEST_SKIP() << "de_DE.UTF-8 is not installed (locales-all)";
  }
  Postrine app;
  app.Sender = "a@example.com";
  const std::string stamp = app.GetTimeStamp();
  EXPECT_TRUE(std::regex_match(stamp, std::regex("\\d{8}\\d{1,5},\\d{2}@a@example\\.com"))) << stamp;
  EXPECT_EQ(runtime::Formats().date_format, "DD.MM.YYYY");
  runtime::ResetFormats();
}
