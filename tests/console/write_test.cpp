#include <gtest/gtest.h>

#include "console/console.h"

TEST(ConsoleCoord, KeepsTheLow16Bits) {
  ConsoleCoord c(70000, 5);
  EXPECT_EQ(c.X, 4464);
  EXPECT_EQ(c.Y, 5);
}
