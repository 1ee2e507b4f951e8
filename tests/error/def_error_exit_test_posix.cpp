// The way out ends the process with the error's generic code, and never
// with the status of success.
#include <gtest/gtest.h>

#include "error/handler_fixture.h"

namespace {

using DefErrorExitTest = HandlerTest;

void Quit(std::uint32_t gen_code) { DefError(Record([gen_code](Error& e) { e.GenCode = gen_code; })); }

TEST_F(DefErrorExitTest, OnlyTheWayOutIsOfferedAndTheProcessEndsWithTheGenericCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  runtime::SetBeep(false);
  answer = 0x80000000u;
  EXPECT_EXIT(Quit(0), ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(Quit(512), ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(Quit(300), ::testing::ExitedWithCode(44), "");
}

}  // namespace
