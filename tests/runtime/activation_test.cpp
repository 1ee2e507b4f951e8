#include "runtime/activation.h"

#include <gtest/gtest.h>

namespace {

void Inner(std::string& name0, std::string& name1, int& line0) {
  const runtime::Activation activation("OUTER:INNER", 42);
  name0 = runtime::ProcName(0);
  name1 = runtime::ProcName(1);
  line0 = runtime::ProcLine(0);
}

TEST(Activation, NamesTheInnermostCallsFirstAndUnwinds) {
  const std::size_t base = runtime::ActivationDepth();
  std::string n0, n1;
  int l0 = 0;
  {
    const runtime::Activation activation("OUTER", 7);
    Inner(n0, n1, l0);
    EXPECT_EQ(runtime::ActivationDepth(), base + 1);
  }
  EXPECT_EQ(n0, "OUTER:INNER");
  EXPECT_EQ(n1, "OUTER");
  EXPECT_EQ(l0, 42);
  EXPECT_EQ(runtime::ActivationDepth(), base);
  EXPECT_EQ(runtime::ProcName(base + 5), "");
  EXPECT_EQ(runtime::ProcLine(base + 5), 0);
}

TEST(Activation, SurvivesAStackDeeperThanItRecords) {
  // Recursion far past the recorded frames must neither crash nor lose count.
  struct Recurse {
    static std::size_t Down(int n) {
      const runtime::Activation activation("DOWN", n);
      return n == 0 ? runtime::ActivationDepth() : Down(n - 1);
    }
  };
  const std::size_t base = runtime::ActivationDepth();
  EXPECT_EQ(Recurse::Down(2000), base + 2001);
  EXPECT_EQ(runtime::ActivationDepth(), base);
}

}  // namespace
