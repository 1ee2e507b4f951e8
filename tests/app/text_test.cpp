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

// Q and E in the tables below stand for the double quote and the backslash.
std::string Spell(std::string s) {
  for (char& c : s) {
    if (c == 'Q') c = '"';
    if (c == 'E') c = '\\';
  }
  return s;
}

Tokens SpellAll(Tokens tokens) {
  for (auto& t : tokens) t = Spell(t);
  return tokens;
}

}  // namespace

// Each case also names the quoted pieces whose text the cut passes over,
// which the caller reports.
TEST(Text2Array, CutsAtTheDelimiterWithQuotesAndEscapes) {
  struct Case {
    const char* text;
    Tokens tokens;
    Tokens passed_over = {};
    const char* delimiter = ",";
    const char* quote = "Q";
  };
  const Case cases[] = {
      {"", {}},
      {" \t\r\n ", {}},
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a"}},
      {"a, ", {"a"}},
      {"a, b", {"a", " b"}},
      {",a", {"", "a"}},
      {"Qx,y@xQ,z@x", {"x,y@x", "z@x"}},
      {"Qsay QQhiQQQ,z", {"say QhiQ", "z"}},
      {"QaEQb@xQ,c@x", {"aQb@x", "c@x"}},
      {"aE,b,c", {"ab", "c"}},
      {"aE,,b", {"a", "b"}},
      {"QabcQdef,g", {"abc", "g"}, {"QabcQdef"}},
      {"QabcQdef", {"abc", "ef"}, {"QabcQdef"}},
      {"Qabc", {"abc"}},
      {"QQ", {""}},
      {"QQ,b", {"", "b"}},
      {"QQQ", {""}},
      {"QaQ ,QbQ ", {"a", "b"}},  // blanks after a closing quote lose nothing
      {"QabQ@x.io ", {"ab", "x.io "}, {"QabQ@x.io"}},
      {"ok@x.io,Qab@c.ioQxyz@evil.io", {"ok@x.io", "ab@c.io", "yz@evil.io"}, {"Qab@c.ioQxyz@evil.io"}},
      {"QaQb,c", {"a", "c"}, {"QaQb"}},
      {"QabQQ,c", {"", "c"}, {"QabQQ"}},
      {"QaEQbQQ,c", {"", "c"}, {"QaEQbQQ"}},
      {"cEEserver", {"cEserver"}},
      {"QcEEserverQ", {"cEserver"}},
      {"itE's,a", {"it's", "a"}},
      {"aEQb", {"aEQb"}},  // an escaped quote outside quotes stays as typed
      // The last quote of the text is doubled: the token runs to the end.
      {"Qab QQcd", {"ab Qcd"}},
      {"Qab QQ", {"ab Q"}},
      // A command line, cut at blanks.
      {"QCEpathEpostrine.exeQ -s QHello WorldQ mail.txt r1", {"CEpathEpostrine.exe", "-s", "Hello World", "mail.txt", "r1"}, {}, " "},
      {"postrine  mail.txt", {"postrine", "", "mail.txt"}, {}, " "},
      // Without a quote character quotes are text.
      {"Qa,bQ", {"Qa", "bQ"}, {}, ",", ""},
      {"aEQb", {"aQb"}, {}, ",", ""},
  };
  for (const Case& c : cases) {
    Tokens passed_over;
    EXPECT_EQ(Text2Array(Spell(c.text), c.delimiter, Spell(c.quote), &passed_over), SpellAll(c.tokens)) << c.text;
    EXPECT_EQ(passed_over, SpellAll(c.passed_over)) << c.text;
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
