#include "runtime/activation.h"

#include <gtest/gtest.h>

namespace {

// The order of the names and their unwinding show in the error tests'
// call stacks; here: a stack far deeper than the names it records.
TEST(Activation, SurvivesAStackDeeperThanItRecordsAndAnswersEmptyBeyondIt) {
  struct Recurse {
    static std::size_t Down(int n) {
      const runtime::Activation activation("DOWN", n);
      return n == 0 ? runtime::ActivationDepth() : Down(n - 1);
    }
  };
  const std::size_t base = runtime::ActivationDepth();
  EXPECT_EQ(Recurse::Down(2000), base + 2001);
  EXPECT_EQ(runtime::ActivationDepth(), base);
  EXPECT_EQ(runtime::ProcName(base + 5), "");
  EXPECT_EQ(runtime::ProcLine(base + 5), 0);
}

}  // namespace
