#include "runtime/process.h"

#include <gtest/gtest.h>

#include "runtime/places.h"

namespace {

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
