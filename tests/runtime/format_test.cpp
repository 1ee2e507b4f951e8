#include "runtime/format.h"

#include <gtest/gtest.h>

namespace {

class FormatTest : public ::testing::Test {
 protected:
  void TearDown() override { runtime::ResetFormats(); }
};

TEST_F(FormatTest, DatePictures) {
  const runtime::Date d{2026, 3, 9};
  struct Case {
    const char* picture;
    bool century;
    const char* text;
  } cases[] = {
      {"MM/DD/YY", true, "03/09/2026"}, {"MM/DD/YY", false, "03/09/26"},
      {"DD.MM.YYYY", true, "09.03.2026"}, {"YYYY-MM-DD", true, "2026-03-09"},
      {"DD.MM.YYYY", false, "09.03.26"},
  };
  for (const Case& c : cases) {
    runtime::SetDateFrmt(c.picture);
    runtime::SetCentury(c.century);
    EXPECT_EQ(runtime::DToC(d), c.text) << c.picture;
  }
  EXPECT_EQ(runtime::DToS(d), "20260309");
}

}  // namespace
