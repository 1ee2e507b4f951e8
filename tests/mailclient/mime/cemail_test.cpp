// Composing a message: the transfer encoding a body needs, the header, and
// the addresses that may stand in a command.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "mailclient/mime/cemail.h"
#include "mailclient/mime/encoding.h"
#include "mailclient/mime/system.h"
#include "runtime/ansi_text.h"

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
  std::string value = header.substr(at + 9, end - at - 9);
  if (value.rfind("=?", 0) != 0) {
    for (std::size_t fold; (fold = value.find("\r\n")) != std::string::npos;) value.erase(fold, 2);
    return value;
  }
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

// A long subject once went on one line.
const std::string kLongSubject =
    "Nightly backup report for all file servers of the head office and the branch offices: "
    "every job finished, with the totals by server, the time each took, the changes since "
    "yesterday, the files that could not be read and were skipped, the free space left on "
    "every volume, and the tapes that are due to be changed in the course of the next week";

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
      {"78 characters on its line", std::string(34, 'x') + " " + std::string(34, 'y'), false,
       std::string(34, 'x') + " " + std::string(34, 'y')},
      {"long, folded at blanks", kLongSubject, false, kLongSubject},
      {"long with a word past 998", "a " + std::string(998, 'w'), true, "a " + std::string(998, 'w')},
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
    if (!c.encoded) {
      for (const std::string& line : lines) EXPECT_LE(line.size(), 78u) << c.name << ": " << line;
      if (9 + c.subject.size() <= 78) {
        EXPECT_EQ(lines.size(), 1u) << c.name;
      }
      continue;
    }
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


TEST(ContentScan, LearnsTheSameHoweverTheTextIsCutIntoChunks) {
  const std::string texts[] = {"", "a\r\nb\rc\n\r", "K\xc3\xb6ln\r\n=_x", "\xe2\x82 \0\n"s,
                               std::string(1000, 'x') + "\ny", "\xff\xfeZ\0\xfc\0"s, "\xff\xfe\0\0Z\0\0\0"s};
  auto scan = [](const std::vector<std::string>& chunks) {
    ContentScan s;
    for (const std::string& c : chunks) s.Feed(c);
    s.Finish();
    return std::vector<std::string>{std::to_string(s.size), std::to_string(s.has_nul), std::to_string(s.ascii),
                                    std::to_string(s.utf8), std::to_string(s.longest_line),
                                    std::to_string(s.line_ends), std::to_string(s.line_end_bytes),
                                    std::to_string(s.open_end), std::to_string(s.has_boundary_mark),
                                    s.CharsetByByteOrderMark()};
  };
  for (const std::string& text : texts) {
    const auto whole = scan({text});
    for (std::size_t i = 0; i <= text.size(); ++i) {
      EXPECT_EQ(scan({text.substr(0, i), text.substr(i)}), whole) << "split at " << i;
    }
  }
  EXPECT_EQ(scan({"a\r\nb\rc\n\r"}),
            (std::vector<std::string>{"8", "0", "1", "1", "1", "4", "5", "0", "0", "us-ascii"}));
}

TEST(ContentDigest, IsTheSameHoweverCutAndTellsAnyChangedByteSwapOrShift) {
  auto digest = [](const std::vector<std::string>& chunks) {
    ContentDigest d;
    for (const std::string& c : chunks) d.Feed(c);
    return d.Value();
  };
  std::string text;
  for (int i = 0; i < 100; ++i) text += static_cast<char>('a' + i % 26);
  const std::uint64_t whole = digest({text});
  for (std::size_t i = 0; i <= text.size(); ++i) {
    for (std::size_t j = i; j <= text.size(); j += 3) {
      EXPECT_EQ(digest({text.substr(0, i), text.substr(i, j - i), text.substr(j)}), whole) << i << " " << j;
    }
  }
  std::vector<std::string> others = {"", text + '\0', text.substr(1), "\0"s + text};
  for (std::size_t i = 0; i < text.size(); ++i) {
    others.push_back(text);
    others.back()[i] ^= 0x20;
    for (const std::size_t apart : {8, 32}) {  // words of two lanes, and of one
      others.push_back(text);
      std::swap(others.back()[i], others.back()[(i + apart) % text.size()]);
    }
  }
  for (const std::string& other : others) EXPECT_NE(digest({other}), whole) << other;
  EXPECT_NE(digest({""}), digest({"\0"s}));
}

namespace {

// The files a test made, removed when it ends (after the messages that
// hold them open).
struct TempFiles {
  std::vector<std::string> paths;
  ~TempFiles() {
    for (const std::string& p : paths) std::remove(p.c_str());
  }
};

std::shared_ptr<runtime::FileSource> FileWith(TempFiles& made, const std::string& name, const std::string& bytes) {
  const std::string path = testing::TempDir() + name;
  made.paths.push_back(path);
  std::ofstream(path, std::ios::binary) << bytes;
  auto file = std::make_shared<runtime::FileSource>();
  std::string reason;
  EXPECT_TRUE(file->Open(path, reason)) << reason;
  return file;
}

std::string Data(const CEmail& mail, const BodyPlan& plan, const std::string& header) {
  std::string data;
  EXPECT_TRUE(mail.WriteData(plan, header, [&](std::string_view chunk) {
    data += chunk;
    return true;
  })) << mail.ReadError();
  return data;
}

std::size_t StuffedDots(const std::string& data) {
  std::size_t stuffed = 0;
  for (std::size_t at = data.find("\n.."); at != std::string::npos; at = data.find("\n..", at + 1)) ++stuffed;
  return stuffed;
}

}  // namespace

// A body read from disk while it is sent travels as the same bytes as one
// held in memory, and the size announced beforehand stays exact with any
// attachments added.
TEST(CEmailFromDisk, SendsTheBytesOfTheSameBodyInMemoryAndAnnouncesTheirExactSize) {
  const std::string bodies[] = {"", "no end", ".dot\r\n=_mark\n", std::string(70000, 'x') + "\n\xe4\n",
                                "a\0b\r"s + std::string(200000, 'y')};
  const std::vector<std::pair<std::string, std::string>> attachment_sets[] = {
      {}, {{"empty.csv", ""}}, {{"dir/report.pdf", std::string(100000, '\xff') + "\0\r\n."s}, {"b\xc3\xa4r.txt", "12"}}};
  int n = 0;
  TempFiles made;
  for (const std::string& body : bodies) {
    for (const auto& attachments : attachment_sets) {
      CEmail memory;
      memory.MailBody(body);
      CEmail disk;
      std::string reason;
      ASSERT_FALSE(disk.MailBody(FileWith(made, "body" + std::to_string(n++), body))) << reason;
      for (const auto& [name, bytes] : attachments) {
        ASSERT_FALSE(disk.Attach(name, FileWith(made, "attachment" + std::to_string(n++), bytes), "application/pdf"));
      }
      for (bool eight_bit_ok : {false, true}) {
        const BodyPlan plan = disk.Plan(eight_bit_ok);
        const std::string header = disk.Header(plan, 0);
        std::string data = Data(disk, plan, header);
        if (attachments.empty()) {
          EXPECT_EQ(data, Data(memory, memory.Plan(eight_bit_ok), header));
        }
        ASSERT_EQ(data.substr(data.size() - 3), ".\r\n");
        data.resize(data.size() - 3);
        EXPECT_EQ(disk.DataSize(plan, header), data.size() - StuffedDots(data))
            << body.size() << " bytes, " << attachments.size() << " attachments";
        if (!attachments.empty()) {
          EXPECT_EQ(data.find("\r\n.\r\n"), std::string::npos);
          // A body holding the boundary's mark goes as quoted-printable.
          if (body.find("=_") != std::string::npos) {
            EXPECT_EQ(plan.encoding, TransferEncoding::kQuotedPrintable);
          }
        }
      }
    }
  }
}

TEST(CEmailFromDisk, AFileThatChangedSinceItWasPlannedEndsTheDataWithoutItsEnd) {
  TempFiles made;
  // Shorter, longer, and of the same size with other line ends or a byte
  // beyond ASCII: the size and the encoding announced no longer hold. Of
  // the same size and shape: what was announced holds, the text does not.
  for (const char* later : {"short\n", "a body that grew longer than it was\n", "the body\r\nas planned",
                            "the bod\xe4 as planned\n", "THE BODY AS PLANNED\n"}) {
    CEmail mail;
    std::string reason;
    ASSERT_FALSE(mail.MailBody(FileWith(made, "changing", "the body as planned\n")));
    const BodyPlan plan = mail.Plan(true);
    std::ofstream(testing::TempDir() + "changing", std::ios::binary | std::ios::trunc) << later;
    std::string data;
    EXPECT_FALSE(mail.WriteData(plan, "\r\n", [&](std::string_view chunk) {
      data += chunk;
      return true;
    }));
    EXPECT_EQ(mail.ReadError(), "the mail file changed while it was sent");
    EXPECT_EQ(data.find(".\r\n"), std::string::npos) << "no end of data";
  }
}

TEST(CEmailFromDisk, AFileRewrittenInPlaceWhileItIsSentNeverGoesOutWhole) {
  // Rewritten at the same size once the first piece has gone out: the
  // server must never get the end of a message that is half old, half new.
  struct Case {
    const char* what;
    const char* type;  // an attachment's; none for the body
    const char* error;
  };
  const Case cases[] = {
      {"body", nullptr, "the mail file changed while it was sent"},
      {"text attachment", "text/plain", "the attachment big.txt changed while it was sent"},
      {"binary attachment", "application/octet-stream", "the attachment big.txt changed while it was sent"},
  };
  for (const Case& c : cases) {
    TempFiles made;
    CEmail mail;
    std::string reason;
    const auto file = FileWith(made, "big.txt", std::string(300 * 1024, 'a'));
    if (c.type != nullptr) {
      mail.MailBody("see attached\n");
      ASSERT_FALSE(mail.Attach("big.txt", file, c.type));
    } else {
      ASSERT_FALSE(mail.MailBody(file));
    }
    const BodyPlan plan = mail.Plan(true);
    bool rewritten = false;
    std::string data;
    EXPECT_FALSE(mail.WriteData(plan, "\r\n", [&](std::string_view chunk) {
      data += chunk;
      if (!rewritten) {
        std::fstream(made.paths.back(), std::ios::in | std::ios::out | std::ios::binary)
            << std::string(300 * 1024, 'b');
        rewritten = true;
      }
      return true;
    })) << c.what;
    EXPECT_EQ(mail.ReadError(), c.error);
    EXPECT_EQ(data.find("\r\n.\r\n"), std::string::npos) << c.what;
  }
}

TEST(CEmailAttachment, NamesTheFileByItsBaseNameInBothForms) {
  struct Case {
    std::string name;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"reports/q1 \"final\".csv",
       {"Content-Type: application/pdf; name=\"q1 \\\"final\\\".csv\"", "Content-Transfer-Encoding: base64",
        "Content-Disposition: attachment; filename=\"q1 \\\"final\\\".csv\""}},
      {"B\xc3\xa4r 1.txt",
       {"Content-Type: application/pdf;", " name=\"=?utf-8?B?QsOkciAxLnR4dA==?=\"", "Content-Transfer-Encoding: base64",
        "Content-Disposition: attachment;", " filename*=utf-8''B%C3%A4r%201.txt"}},
  };
  TempFiles made;
  for (const Case& c : cases) {
    CEmail mail;
    mail.MailBody("see attached\n");
    std::string reason;
    ASSERT_FALSE(mail.Attach(c.name, FileWith(made, "named", "x"), "application/pdf"));
    const BodyPlan plan = mail.Plan(true);
    const std::string data = Data(mail, plan, mail.Header(plan, 0));
    std::string expected;
    for (const std::string& line : c.lines) expected += line + "\r\n";
    EXPECT_NE(data.find(expected + "\r\neA==\r\n"), std::string::npos) << data;
  }
}

// A reader shows text without a charset as US-ASCII: "Z\xc3\x83\xc2\xbcrich".
TEST(CEmailAttachment, TextSaysItsCharsetAndTravelsAsItsVeryBytes) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* type;
    std::string content_type;
  };
  const Case cases[] = {
      {"ASCII", "Zurich\r\n", "text/plain", "text/plain; charset=us-ascii"},
      {"UTF-8", "Z\xc3\xbcrich\n", "text/plain", "text/plain; charset=utf-8"},
      {"UTF-8 with its mark", "\xef\xbb\xbfZ\xc3\xbcrich", "text/csv", "text/csv; charset=utf-8"},
      {"Latin-1", "Z\xfcrich", "text/plain", "text/plain; charset=" + runtime::AnsiCharset()},
      {"UTF-16 little-endian", "\xff\xfeZ\0\xfc\0"s, "text/plain", "text/plain; charset=utf-16"},
      {"UTF-16 big-endian", "\xfe\xff\0Z\0\xfc"s, "text/plain", "text/plain; charset=utf-16"},
      {"UTF-32 little-endian", "\xff\xfe\0\0Z\0\0\0"s, "text/plain", "text/plain; charset=utf-32"},
      {"empty", "", "text/plain", "text/plain; charset=us-ascii"},
      {"not text", "Z\xfcrich", "application/pdf", "application/pdf"},
  };
  TempFiles made;
  for (const Case& c : cases) {
    CEmail mail;
    mail.MailBody("see attached\n");
    std::string reason;
    ASSERT_FALSE(mail.Attach("notes.txt", FileWith(made, "notes.txt", c.bytes), c.type)) << reason;
    const BodyPlan plan = mail.Plan(true);
    const std::string data = Data(mail, plan, mail.Header(plan, 0));
    const std::string head = "Content-Type: " + c.content_type + "; name=\"notes.txt\"\r\n";
    const std::size_t at = data.find(head);
    ASSERT_NE(at, std::string::npos) << c.name << "\n" << data;
    const std::size_t start = data.find("\r\n\r\n", at) + 4;
    std::string encoded = data.substr(start, data.find("\r\n", start) - start);
    if (c.bytes.empty()) encoded.clear();
    std::string bytes;
    EXPECT_TRUE(Base64Decode(encoded, bytes)) << c.name;
    EXPECT_EQ(bytes, c.bytes) << c.name;
  }
  // Text that changed its charset after the first pass is not sent under
  // the label that no longer holds.
  CEmail mail;
  mail.MailBody("see attached\n");
  std::string reason;
  ASSERT_FALSE(mail.Attach("notes.txt", FileWith(made, "changing.txt", "Zurich"), "text/plain"));
  std::ofstream(testing::TempDir() + "changing.txt", std::ios::binary | std::ios::trunc) << "Z\xfcrich";
  const BodyPlan plan = mail.Plan(true);
  EXPECT_FALSE(mail.WriteData(plan, mail.Header(plan, 0), [](std::string_view) { return true; }));
  EXPECT_EQ(mail.ReadError(), "the attachment notes.txt changed while it was sent");
}

namespace {

// The attachment's header block in the message.
std::string AttachmentHeaderOf(const std::string& name, const std::string& type) {
  TempFiles made;
  CEmail mail;
  mail.MailBody("see attached\n");
  std::string reason;
  EXPECT_FALSE(mail.Attach(name, FileWith(made, "long", "x"), type)) << reason;
  const BodyPlan plan = mail.Plan(true);
  const std::string data = Data(mail, plan, mail.Header(plan, 0));
  const std::size_t at = data.rfind("Content-Type: " + type);
  return data.substr(at, data.find("\r\n\r\n", at) + 2 - at);
}

std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

// RFC 5322 asks for header lines within 78 characters; a long name once
// gave one of 742 characters, a long CJK name one past the hard limit of 998.
TEST(CEmailAttachment, NamesOfAnyLengthKeepEveryHeaderLineWithin78) {
  const std::pair<const char*, std::string> units[] = {
      {"ASCII", "a"}, {"blanks and quotes", "a \"b\\"}, {"Latin-1", "\xe4"}, {"CJK", "\xe6\x97\xa5"},
      {"emoji", "\xf0\x9f\x93\x8e"}, {"control", "\t"}};
  for (const auto& [what, unit] : units) {
    std::string name;
    for (int n = 0; name.size() < 300; ++n, name += unit) {
      for (const char* type : {"application/pdf", "text/plain"}) {
        const std::string header = AttachmentHeaderOf(name + ".txt", type);
        std::size_t longest = 0;
        for (std::size_t at = 0; at < header.size(); at = header.find("\r\n", at) + 2) {
          const std::string line = header.substr(at, header.find("\r\n", at) - at);
          longest = std::max(longest, line.size());
          // Every piece of a UTF-8 name is whole characters: readers
          // decode each by itself.
          const std::size_t piece = line.find("*=");
          if (line.starts_with(" filename*") && piece != std::string::npos && IsUtf8(name)) {
            std::string value = line.substr(piece + 2);
            if (value.starts_with("utf-8''")) value = value.substr(7);
            if (value.ends_with(";")) value.pop_back();
            EXPECT_TRUE(IsUtf8(PercentDecoded(value))) << what << ": " << line;
          }
        }
        EXPECT_LE(longest, 78u) << what << " \u00d7 " << n << "\n" << header;
      }
    }
  }
}
