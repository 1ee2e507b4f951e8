// The encoders a body passes through on its way to the server, and the
// scan and digest of its first pass.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailclient/mime/content.h"
#include "mailclient/mime/encoding.h"
#include "runtime/ansi_text.h"

using namespace mailclient;
using namespace std::string_literals;

namespace {
template <typename Encoder>
std::string Encode(Encoder encoder, const std::vector<std::string>& chunks) {
  std::string out;
  for (const std::string& c : chunks) encoder.Feed(c, out);
  encoder.Finish(out);
  return out;
}

}  // namespace

TEST(DataEncoder, MakesEveryLineEndCrLfAndDoublesLeadingDots) {
  struct Case {
    std::vector<std::string> chunks;
    std::string wire;
  };
  const Case cases[] = {
      {{""}, ".\r\n"},
      {{"a\r", "\r\n"}, "a\r\n\r\n.\r\n"},
      {{".\n"}, "..\r\n.\r\n"},                // a lone dot cannot end the data
      {{"\r\n.\r\n"}, "\r\n..\r\n.\r\n"},      // no smuggled end of data
      {{"a\nb\rc\r\n\n\rd"}, "a\r\nb\r\nc\r\n\r\n\r\nd\r\n.\r\n"},  // every kind, mixed
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Encode(DataEncoder(), c.chunks), c.wire) << c.chunks[0];
  }
}

TEST(QuotedPrintableEncoder, KeepsLinesShortAndEncodesWhatCannotTravel) {
  EXPECT_EQ(Encode(QuotedPrintableEncoder(), {"a=b \nc\t\n\xe4"}), "a=3Db=20\r\nc=09\r\n=E4\r\n");
  const std::string wire = Encode(QuotedPrintableEncoder(), {std::string(200, 'x') + "\n"});
  std::string joined;
  for (std::size_t at = 0; at < wire.size(); at = wire.find("\r\n", at) + 2) {
    const std::string line = wire.substr(at, wire.find("\r\n", at) - at);
    EXPECT_LE(line.size(), 76u);
    joined += line.back() == '=' ? line.substr(0, line.size() - 1) : line + "\n";
  }
  EXPECT_EQ(joined, std::string(200, 'x') + "\n");
}

TEST(Base64Encoder, EncodesTheStandardVectorsInLinesOf76HoweverFed) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(Base64(plain), encoded);
    EXPECT_EQ(Encode(Base64Encoder(), {plain}), *encoded ? std::string(encoded) + "\r\n" : "");
  }
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += static_cast<char>(i * 7 % 256);
  const std::string one_line = Base64(bytes);
  std::string expected;
  for (std::size_t at = 0; at < one_line.size(); at += 76) expected += one_line.substr(at, 76) + "\r\n";
  for (std::size_t piece : {1u, 2u, 56u, 57u, 58u, 1000u}) {
    std::vector<std::string> chunks;
    for (std::size_t at = 0; at < bytes.size(); at += piece) chunks.push_back(bytes.substr(at, piece));
    EXPECT_EQ(Encode(Base64Encoder(), chunks), expected) << "chunks of " << piece;
  }
}

TEST(IsUtf8, AcceptsWellFormedTextOnly) {
  const std::pair<const char*, bool> cases[] = {
      {"plain", true},           {"Gr\xc3\xbc\xc3\x9f" "e", true}, {"\xe2\x82\xac", true},
      {"\xf0\x9f\x93\xa7", true}, {"\xc0\x80", false},               {"\xe0\x80\x80", false},
      {"\xed\xa0\x80", false},   {"\xf4\x90\x80\x80", false},       {"\xe2\x82", false},
      {"\xe4", false},           {"\x80", false},
  };
  for (const auto& [text, valid] : cases) EXPECT_EQ(IsUtf8(text), valid) << text;
}

namespace {

// Texts whose pieces an encoder or a scan must carry across a chunk
// boundary: CR LF, a dot at a line's start, a blank before a line end, a
// soft break, a base64 group, a UTF-8 character, a byte order mark, the
// boundary's mark and a digest's block.
const std::string kSplitTexts[] = {
    "a\r\nb\rc\n\r\n.d\r\n..\r\n.",
    "x \t\r\ny =\r\n\xc3\xa4\xe2\x82\xac\xf0\x9f\x93\xa7 \n\t",
    std::string(80, 'q') + " " + std::string(75, 'r') + "\r\n" + std::string(3, '\0') + "\x80\xff",
    "\xff\xfe\0\0Z=_\0\r"s,
    "\xfe\xff\0Z\xe2\x82"s,
};

std::string Scanned(const std::vector<std::string>& chunks) {
  ContentScan s;
  for (const std::string& c : chunks) s.Feed(c);
  s.Finish();
  std::string out;
  for (std::uint64_t n : {s.size, s.longest_line, s.line_ends, s.line_end_bytes}) out += std::to_string(n) + " ";
  for (bool b : {s.has_nul, s.ascii, s.utf8, s.open_end, s.has_boundary_mark}) out += b ? "1" : "0";
  return out + " " + s.CharsetByByteOrderMark();
}

std::uint64_t Digest(const std::vector<std::string>& chunks) {
  ContentDigest d;
  for (const std::string& c : chunks) d.Feed(c);
  return d.Value();
}

// Feeds `text` whole and in every split into two and three chunks; each
// must give what the whole did.
template <typename Run>
void ExpectEverySplitAlike(const std::string& text, Run run) {
  const std::string whole = run(std::vector<std::string>{text});
  for (std::size_t i = 0; i <= text.size(); ++i) {
    for (std::size_t j = i; j <= text.size(); j += 7) {
      const std::vector<std::string> chunks{text.substr(0, i), text.substr(i, j - i), text.substr(j)};
      ASSERT_EQ(run(chunks), whole) << "split at " << i << " and " << j << " of " << testing::PrintToString(text);
    }
  }
}

}  // namespace

TEST(Encoders, GiveTheSameHoweverTheInputIsCutIntoChunks) {
  for (const std::string& text : kSplitTexts) {
    ExpectEverySplitAlike(text, [](const std::vector<std::string>& c) { return Encode(DataEncoder(), c); });
    ExpectEverySplitAlike(text, [](const std::vector<std::string>& c) { return Encode(DataEncoder(false), c); });
    ExpectEverySplitAlike(text,
                          [](const std::vector<std::string>& c) { return Encode(QuotedPrintableEncoder(), c); });
    ExpectEverySplitAlike(text, [](const std::vector<std::string>& c) { return Encode(Base64Encoder(), c); });
    ExpectEverySplitAlike(text, [](const std::vector<std::string>& c) {
      Utf8Check check;
      for (const std::string& piece : c) check.Feed(piece);
      return std::string(check.Valid() ? "valid" : "invalid");
    });
    ExpectEverySplitAlike(text, Scanned);
    ExpectEverySplitAlike(text, [](const std::vector<std::string>& c) { return std::to_string(Digest(c)); });
  }
}

TEST(ContentScan, CountsLinesAndTheirEnds) {
  EXPECT_EQ(Scanned({"a\r\nb\rc\n\r"}), "8 1 4 5 01100 us-ascii");
  EXPECT_EQ(Scanned({std::string(1000, 'x') + "\ny"}), "1002 1000 1 1 01110 us-ascii");
  EXPECT_EQ(Scanned({"K\xc3\xb6ln\r\n=_\xff\xfeZ\0"s}), "13 6 1 2 10011 " + runtime::AnsiCharset());
}

// The second pass must tell a file that changed since the first.
TEST(ContentDigest, TellsAnyChangedByteSwapOrShift) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += static_cast<char>('a' + i % 26);
  std::vector<std::string> others = {"", text + '\0', text.substr(1), "\0"s + text};
  for (std::size_t i = 0; i < text.size(); ++i) {
    others.push_back(text);
    others.back()[i] ^= 0x20;
    for (const std::size_t apart : {8, 32}) {  // words of two lanes, and of one
      others.push_back(text);
      std::swap(others.back()[i], others.back()[(i + apart) % text.size()]);
    }
  }
  for (const std::string& other : others) EXPECT_NE(Digest({other}), Digest({text})) << other;
  EXPECT_NE(Digest({""}), Digest({"\0"s}));
}

// RFC 5322 section 2.1.1: lines within 78 characters, folded before a blank
// so that unfolding gives the text back; here within 20, to read.
TEST(FoldAtBlanks, KeepsLinesShortAndUnfoldsToTheSameText) {
  const std::pair<std::string, std::string> cases[] = {
      {"Subject: fits", "Subject: fits"},
      {"Subject: one two three four five", "Subject: one two\r\n three four five"},
      {"Subject: one  two\tthree   four", "Subject: one  two\r\n\tthree   four"},
      {"Subject: averyveryverylongword a b", "Subject: averyveryverylongword\r\n a b"},
      {"Subject: a averyveryverylongword b", "Subject: a\r\n averyveryverylongword\r\n b"},
      {"Subject: averyveryverylongword", "Subject: averyveryverylongword"},  // the value's first word stays
      {"Subject:     leading blanks stay", "Subject:     leading\r\n blanks stay"},
      {"Subject: trailing blanks          ", "Subject: trailing\r\n blanks          "},
      {"Subject: x                       ", "Subject: x                       "},  // never a line of blanks
      {" a continuation line of cargo", " a continuation line\r\n of cargo"},
  };
  for (const auto& [line, folded] : cases) {
    const std::string got = FoldAtBlanks(line, 20);
    EXPECT_EQ(got, folded) << line;
    std::string unfolded = got;
    for (std::size_t at; (at = unfolded.find("\r\n")) != std::string::npos;) unfolded.erase(at, 2);
    EXPECT_EQ(unfolded, line);
  }
}
