// Composing a message: the transfer encoding a body needs, the header, and
// the addresses that may stand in a command.
#include <gtest/gtest.h>

#include <sstream>

#include "mailclient/cemail.h"
#include "mailclient/encoding.h"

using namespace mailclient;
using namespace std::string_literals;

TEST(CEmailPlan, ChoosesTheLightestEncodingThatCarriesTheBody) {
  struct Case {
    const char* name;
    std::string body;
    bool eight_bit_ok;
    TransferEncoding encoding;
    const char* charset;
  };
  const Case cases[] = {
      {"ascii", "report\n", false, TransferEncoding::k7Bit, "us-ascii"},
      {"utf-8 to an 8BITMIME server", "K\xc3\xb6ln\n", true, TransferEncoding::k8Bit, "utf-8"},
      {"utf-8 without 8BITMIME", "K\xc3\xb6ln\n", false, TransferEncoding::kQuotedPrintable, "utf-8"},
      {"a line over 998 bytes", std::string(999, 'x'), true, TransferEncoding::kQuotedPrintable, "us-ascii"},
      {"a line of 998 bytes", std::string(998, 'x') + "\r\n", true, TransferEncoding::k7Bit, "us-ascii"},
      {"a NUL byte", std::string("a\0b", 3), true, TransferEncoding::kBase64, "us-ascii"},
  };
  for (const Case& c : cases) {
    CEmail mail;
    mail.MailBody(c.body);
    const BodyPlan plan = mail.Plan(c.eight_bit_ok);
    EXPECT_EQ(plan.encoding, c.encoding) << c.name;
    EXPECT_EQ(plan.charset, c.charset) << c.name;
    EXPECT_EQ(plan.eight_bit_mime, c.encoding == TransferEncoding::k8Bit) << c.name;
  }
}

// The SIZE parameter counts the message as it travels, without the doubled
// dots and the final "." line (RFC 1870): a server that compares it with
// its limit must not refuse a message that fits, nor take one that does not.
TEST(CEmailDataSize, IsExactlyTheBytesOfTheDataPhaseWithoutDotStuffing) {
  const std::string header = "Subject: x\r\n\r\n";
  const std::string bodies[] = {
      "",
      "one line without an end",
      "lf\nends\n",
      "cr\rends\r",
      "mixed\r\nends\n\rand\r\r\n",
      ".leading dot\n..two\n.",
      std::string(5000, 'x'),                      // soft breaks
      std::string(999, '\xe4') + "\n \t\n",        // every byte encoded, blanks before line ends
      std::string("\0\1\2", 3),                   // base64, one short group
      std::string(57 * 3 + 1, '\0'),               // base64, several lines
      "a\0b\nc\rd\r\n\n"s,                         // base64 of line ends made CR LF
  };
  for (const std::string& body : bodies) {
    CEmail mail;
    mail.MailBody(body);
    for (bool eight_bit_ok : {false, true}) {
      const BodyPlan plan = mail.Plan(eight_bit_ok);
      std::string data;
      ASSERT_TRUE(mail.WriteData(plan, header, [&](std::string_view chunk) {
        data += chunk;
        return true;
      }));
      ASSERT_GE(data.size(), 3u);
      ASSERT_EQ(data.substr(data.size() - 3), ".\r\n");
      data.resize(data.size() - 3);
      std::size_t stuffed = 0;
      for (std::size_t at = data.find("\n.."); at != std::string::npos; at = data.find("\n..", at + 1)) ++stuffed;
      EXPECT_EQ(mail.DataSize(plan, header), data.size() - stuffed)
          << "body of " << body.size() << " bytes, 8BITMIME " << eight_bit_ok;
    }
  }
}

TEST(CEmailHeader, KeepsEveryLineAHeaderLine) {
  CEmail mail;
  mail.FromAddress("alerts@example.com");
  mail.Subject("Report\r\nBcc: x@example.com");
  mail.Cargo("Message-Id: <1@example.com>\r\n\r\nX-Mailer: postrine\n");
  std::vector<std::string> many;
  for (int i = 0; i < 30; ++i) many.push_back("recipient" + std::to_string(i) + "@example.com");
  mail.DestList(many);
  const std::string header = mail.Header(mail.Plan(false), 0);
  ASSERT_GE(header.size(), 4u);
  EXPECT_EQ(header.substr(header.size() - 4), "\r\n\r\n");
  EXPECT_EQ(header.find("\r\n\r\n"), header.size() - 4) << "only the last line is empty";
  EXPECT_NE(header.find("Subject: Report  Bcc: x@example.com\r\n"), std::string::npos);
  EXPECT_NE(header.find("Message-Id: <1@example.com>\r\nX-Mailer: postrine\r\nMIME-Version: 1.0\r\n"),
            std::string::npos);
  std::istringstream lines(header);
  std::string line;
  while (std::getline(lines, line)) EXPECT_LE(line.size(), 80u) << line;
  EXPECT_EQ(header.find("\r\n", header.find("To:")) < header.find("recipient29"), true);
}

TEST(CEmail, RecipientsLeaveOutEmptyPiecesAndTrimBlanks) {
  CEmail mail;
  mail.DestList({"r1@example.com", "", " r2@example.com\t", "  "});
  EXPECT_EQ(mail.Recipients(), (std::vector<std::string>{"r1@example.com", "r2@example.com"}));
}

namespace {

// The subject as a reader decodes it: encoded words joined without the
// folds between them (RFC 2047 section 6.2).
std::string DecodedSubject(const std::string& header, std::vector<std::string>& lines) {
  std::size_t at = header.find("Subject: ");
  std::size_t end = header.find("\r\n", at);
  lines.push_back(header.substr(at, end - at));
  while (header.compare(end + 2, 1, " ") == 0) {
    const std::size_t next = header.find("\r\n", end + 2);
    lines.push_back(header.substr(end + 2, next - end - 2));
    end = next;
  }
  const std::string value = header.substr(at + 9, end - at - 9);
  if (value.rfind("=?", 0) != 0) return value;
  std::string text;
  for (std::size_t word = value.find("=?"); word != std::string::npos; word = value.find("=?", word + 2)) {
    const std::size_t start = value.find("?B?", word) + 3;
    std::string bytes;
    EXPECT_TRUE(Base64Decode(value.substr(start, value.find("?=", start) - start), bytes));
    text += bytes;
    word = value.find("?=", start);
  }
  return text;
}

}  // namespace

TEST(CEmailHeader, ASubjectAReaderWouldNotShowAsTypedGoesAsEncodedWords) {
  struct Case {
    const char* name;
    std::string subject;
    bool encoded;
    std::string shown;  // what a reader shows
  };
  const Case cases[] = {
      {"plain", "Nightly report", false, "Nightly report"},
      {"a tab", "a\tb", false, "a\tb"},
      {"line breaks folded to blanks", "a\r\nBcc: x", false, "a  Bcc: x"},
      {"escape", "red \x1b[31m alert", true, "red \x1b[31m alert"},
      {"bell and delete", "ring\x07 \x7f", true, "ring\x07 \x7f"},
      {"an encoded word as typed", "=?utf-8?B?SGk=?=", true, "=?utf-8?B?SGk=?="},
      {"one inside the text", "re: =?iso-8859-1?Q?x?= y", true, "re: =?iso-8859-1?Q?x?= y"},
      {"UTF-8", "Bericht f\xc3\xbcr M\xc3\xa4rz", true, "Bericht f\xc3\xbcr M\xc3\xa4rz"},
      {"long UTF-8", std::string(60, 'x') + "\xe2\x82\xac" + std::string(200, 'y'), true,
       std::string(60, 'x') + "\xe2\x82\xac" + std::string(200, 'y')},
      {"longer than a line may be", std::string(990, 'z'), true, std::string(990, 'z')},
  };
  for (const Case& c : cases) {
    CEmail mail;
    mail.FromAddress("alerts@example.com");
    mail.DestList({"ops@example.com"});
    mail.Subject(c.subject);
    std::vector<std::string> lines;
    const std::string shown = DecodedSubject(mail.Header(mail.Plan(false), 0), lines);
    EXPECT_EQ(shown, c.shown) << c.name;
    EXPECT_EQ(lines.front().rfind("Subject: =?", 0) == 0, c.encoded) << c.name;
    if (!c.encoded) continue;
    for (const std::string& line : lines) {
      EXPECT_LE(line.size(), 76u) << c.name << ": " << line;
      for (char ch : line) EXPECT_TRUE(ch >= 0x20 && ch < 0x7f) << c.name;
    }
  }
}

TEST(CEmailData, ABodyWithNulBytesIsBase64OfItsLinesEndedByCrLf) {
  CEmail mail;
  mail.MailBody("a\0b\nbare LF\rbare CR\r\nCR LF\n"s);
  const BodyPlan plan = mail.Plan(true);
  ASSERT_EQ(plan.encoding, TransferEncoding::kBase64);
  std::string data;
  mail.WriteData(plan, "\r\n", [&](std::string_view chunk) {
    data += chunk;
    return true;
  });
  std::string encoded;
  for (std::size_t at = 2; at < data.size() - 3; at = data.find("\r\n", at) + 2) {
    encoded += data.substr(at, data.find("\r\n", at) - at);
  }
  std::string body;
  ASSERT_TRUE(Base64Decode(encoded, body));
  EXPECT_EQ(body, "a\0b\r\nbare LF\r\nbare CR\r\nCR LF\r\n"s);
}

