// Cutting texts into tokens, and the directory part of a file name.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/text.h"
#include "runtime/places.h"
#include "runtime/process.h"

namespace {
using Tokens = std::vector<std::string>;
}  // namespace

// Each case also names the quoted pieces whose text the cut passes over,
// which the caller reports.
TEST(Text2Array, CutsAtTheDelimiterWithQuotesAndEscapes) {
  struct Case {
    const char* text;
    Tokens tokens;
    Tokens passed_over = {};
    const char* delimiter = ",";
    const char* quote = "\"";
  };
  const Case cases[] = {
      {"", {}},
      {" \t\r\n ", {}},
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a"}},
      {"a, ", {"a"}},
      {",a", {"", "a"}},
      {R"("x,y@x",z@x)", {"x,y@x", "z@x"}},
      {R"("say ""hi""",z)", {R"(say "hi")", "z"}},
      {R"("a\"b@x",c@x)", {R"(a"b@x)", "c@x"}},
      {R"(a\,b,c)", {"ab", "c"}},
      {R"(a\,,b)", {"a", "b"}},
      {R"("abc"def,g)", {"abc", "g"}, {R"("abc"def)"}},
      {R"("abc"def)", {"abc", "ef"}, {R"("abc"def)"}},
      {R"("abc)", {"abc"}},
      {R"("")", {""}},
      {R"(""")", {""}},
      {R"("a" ,"b" )", {"a", "b"}},  // blanks after a closing quote lose nothing
      {R"("ab"@x.io )", {"ab", "x.io "}, {R"("ab"@x.io)"}},
      {R"(ok@x.io,"ab@c.io"xyz@evil.io)", {"ok@x.io", "ab@c.io", "yz@evil.io"}, {R"("ab@c.io"xyz@evil.io)"}},
      {R"("ab"",c)", {"", "c"}, {R"("ab"")"}},
      {R"("a\"b"",c)", {"", "c"}, {R"("a\"b"")"}},
      {R"(c\\server)", {R"(c\server)"}},
      {R"(a\"b)", {R"(a\"b)"}},  // an escaped quote outside quotes stays as typed
      // The last quote of the text is doubled: the token runs to the end.
      {R"("ab ""cd)", {R"(ab "cd)"}},
      // A command line, cut at blanks.
      {R"("C\path\postrine.exe" -s "Hello World" mail.txt r1)",
       {R"(C\path\postrine.exe)", "-s", "Hello World", "mail.txt", "r1"}, {}, " "},
      // Without a quote character quotes are text.
      {R"("a,b")", {R"("a)", R"(b")"}, {}, ",", ""},
      {R"(a\"b)", {R"(a"b)"}, {}, ",", ""},
  };
  for (const Case& c : cases) {
    Tokens passed_over;
    EXPECT_EQ(Text2Array(c.text, c.delimiter, c.quote, &passed_over), c.tokens) << c.text;
    EXPECT_EQ(passed_over, c.passed_over) << c.text;
  }
}

TEST(Text2Array, GivesBackTheArgumentsTheCommandLineWasJoinedFrom) {
  // Arguments from an alphabet rich in what the tokeniser treats specially;
  // an argument ending in a backslash is put last, where it round-trips.
  const std::string alphabet = "ab \"\\,-'\t";
  std::mt19937 rng(20261207);
  for (int round = 0; round < 5000; ++round) {
    std::vector<std::string> args{"postrine"};
    const int count = static_cast<int>(rng() % 5);
    for (int i = 0; i < count; ++i) {
      std::string arg;
      const int length = static_cast<int>(rng() % 6);
      for (int k = 0; k < length; ++k) arg += alphabet[rng() % alphabet.size()];
      if (!arg.empty() && arg.back() == '\\' && i + 1 < count) arg += 'b';
      args.push_back(arg);
    }
    const std::string line = runtime::JoinCommandLine(args);
    ASSERT_EQ(Text2Array(line, " ", "\""), args) << "command line: " << line;
  }
}

TEST(GetPathFromFileName, IsThePartBeforeTheLastSeparator) {
  const std::string s = runtime::PathSeparator();
  EXPECT_EQ(GetPathFromFileName("work" + s + "bin" + s + "postrine"), "work" + s + "bin");
  EXPECT_EQ(GetPathFromFileName(s + "postrine"), "");
  EXPECT_EQ(GetPathFromFileName("postrine"), "");
  EXPECT_EQ(GetPathFromFileName("dir" + s), "dir");
  // Only the platform's separator counts.
  const std::string other = s == "/" ? "\\" : "/";
  EXPECT_EQ(GetPathFromFileName("a" + other + "b"), "");
}
