// The message identifier: date digits, seconds with the decimal separator
// in force, "@" and the sender, with no blank anywhere.
#include <gtest/gtest.h>

#include <regex>

#include "app/postrine.h"
#include "runtime/format.h"

TEST(GetTimeStamp, JoinsDateSecondsAndSenderWithTheDecimalSeparatorInForce) {
  Postrine app;
  app.Sender = "alerts@example.com";
  for (const char sep : {'.', ','}) {
    runtime::SetDecimalSep(sep);
    const std::string stamp = app.GetTimeStamp();
    const std::string date = runtime::DToS(runtime::Today());
    const std::regex form(std::string("(\\d{8})\\d{1,5}\\") + sep + "\\d{2}@alerts@example\\.com");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(stamp, m, form)) << stamp;
    EXPECT_EQ(m[1], date);
  }
  runtime::ResetFormats();
}
