#include "runtime/process.h"

#include <gtest/gtest.h>

#include "runtime/places.h"

namespace {

TEST(JoinCommandLine, QuotesOnlyWhereNeeded) {
  struct Case {
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
      {{"./postrine", "a", "b", "c"}, R"(./postrine a b c)"},
      {{"p", ""}, R"(p "")"},
      {{"p", "two words"}, R"(p "two words")"},
      {{"p", R"(say "hi")"}, R"(p "say ""hi""")"},
      {{"p", R"(a" b)"}, R"(p "a\" b")"},
      {{"p", R"(C:\dir)"}, R"(p "C:\\dir")"},
      {{"p", R"(end\)"}, R"(p "end\\)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(runtime::JoinCommandLine(c.args), c.line);
  }
}

// The executable's name, within its limit, and the work directory it lies in.
TEST(Places, WorkDirIsTheExecutablesDirectoryWithItsSeparator) {
  const std::string exe = runtime::ExeFileName();
  const std::string dir = runtime::WorkDir();
  EXPECT_LE(exe.size(), 1023u);
  EXPECT_NE(exe.find("runtime_tests"), std::string::npos) << exe;
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), runtime::PathSeparator()[0]);
  EXPECT_EQ(exe.compare(0, dir.size(), dir), 0);
  EXPECT_EQ(exe.find(runtime::PathSeparator(), dir.size()), std::string::npos);
}

}  // namespace
