// The console with standard output redirected to a file, as a scheduled job
// runs it: the file receives exactly the text and CR LF, and the screen
// reads fail as they do on a handle that is no console.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "support/read_file.h"
#include "support/scratch_dir.h"

TEST(ConsoleRedirected, AFileReceivesExactlyTheTextBytesAndAnInvalidHandleNothing) {
  const test_support::ScratchDir dir("console_redirect");
  const std::string name = dir / "out.txt";
  HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, file);
  bool wrote = false;
  int attribute = -1;
  ConsoleCoord size(1, 1);
  {
    Console c(false);
    wrote = c.Write("") && c.WriteLine("") && c.WriteLine("will send a to b") && c.Write("x\n");
    c.TextAttribute(12);
    attribute = c.TextAttribute();
    size = c.Size();
  }
  // A handle that is no file at all takes nothing and says so.
  SetStdHandle(STD_OUTPUT_HANDLE, INVALID_HANDLE_VALUE);
  bool lost = false;
  {
    Console c(false);
    lost = !c.WriteLine("lost");
  }
  SetStdHandle(STD_OUTPUT_HANDLE, saved);
  CloseHandle(file);
  EXPECT_TRUE(wrote);
  EXPECT_TRUE(lost);
  EXPECT_EQ(test_support::ReadFile(name), "\r\nwill send a to b\r\nx\n");
  EXPECT_EQ(std::vector<int>({attribute, size.X, size.Y}), std::vector<int>({0, 0, 0}));
}
