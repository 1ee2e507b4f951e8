// Composing a message: the transfer encoding a body needs, the header, the
// exact size announced before sending, and bodies and attachments read from
// disk that must not change between the two passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>

#include "mailclient/mime/address.h"
#include "mailclient/mime/cemail.h"
#include "mailclient/mime/content.h"
#include "mailclient/mime/encoding.h"
#include "runtime/ansi_text.h"
#include "runtime/unicode.h"
#include "support/scratch_dir.h"

using namespace mailclient;
using namespace std::string_literals;

namespace {

// A file in `made` (declared before the messages that hold its files open,
// so that it is removed after them).
std::shared_ptr<runtime::FileSource> FileWith(const test_support::ScratchDir& made, const std::string& name,
                                              const std::string& bytes) {
  const std::string path = made / name;
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

// The lines of `text` ended by CR LF, without their ends.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size(); at = text.find("\r\n", at) + 2) {
    lines.push_back(text.substr(at, text.find("\r\n", at) - at));
  }
  return lines;
}

}  // namespace

TEST(CEmailPlan, ChoosesTheLightestEncodingThatCarriesTheBody) {
  struct Case {
    std::string body;
    bool eight_bit_ok;
    TransferEncoding encoding;
    const char* charset;
  };
  const Case cases[] = {
      {"report\n", false, TransferEncoding::k7Bit, "us-ascii"},
      {"K\xc3\xb6ln\n", true, TransferEncoding::k8Bit, "utf-8"},
      {"K\xc3\xb6ln\n", false, TransferEncoding::kQuotedPrintable, "utf-8"},
      {std::string(999, 'x'), true, TransferEncoding::kQuotedPrintable, "us-ascii"},
      {std::string(998, 'x') + "\r\n", true, TransferEncoding::k7Bit, "us-ascii"},
      {std::string("a\0b", 3), true, TransferEncoding::kBase64, "us-ascii"},
  };
  for (const Case& c : cases) {
    CEmail mail;
    mail.MailBody(c.body);
    const BodyPlan plan = mail.Plan(c.eight_bit_ok);
    EXPECT_EQ(plan.encoding, c.encoding) << c.body.substr(0, 20);
    EXPECT_EQ(plan.charset, c.charset) << c.body.substr(0, 20);
    EXPECT_EQ(plan.eight_bit_mime, c.encoding == TransferEncoding::k8Bit) << c.body.substr(0, 20);
  }
}

// The SIZE parameter counts the message as it travels, without the doubled
// dots and the final "." line (RFC 1870): a server that compares it with its
// limit must not refuse a message that fits, nor take one that does not. A
// body read from disk travels as the same bytes as one held in memory. An
// HTML body adds its text alternative, made on each pass, and an image.
TEST(CEmailData, AnnouncesTheExactSizeOfWhatIsSentFromMemoryOrDisk) {
  const std::string bodies[] = {
      "",
      "mixed\r\nends\n\rand\r\r\n",
      ".leading dot\n..two\n.",
      ".dot\r\n=_mark\n",                              // the boundary's mark: quoted-printable
      std::string(5000, 'x'),                          // soft breaks
      std::string(999, '\xe4') + "\n \t\n",            // every byte encoded, blanks before line ends
      std::string(70000, 'x') + "\n\xe4\n",            // more than one chunk
      std::string("\0\1\2", 3),                        // base64, one short group
      "a\0b\nc\rd\r\n\n"s,                             // base64 of line ends made CR LF
      "a\0b\r"s + std::string(200000, 'y'),
      "<p>K\xc3\xb6ln &amp; <b>=_</b></p>\n<ul><li>" + std::string(3000, 'w') + "</ul>",
  };
  const std::vector<std::pair<std::string, std::string>> attachment_sets[] = {
      {}, {{"empty.csv", ""}}, {{"dir/report.pdf", std::string(100000, '\xff') + "\0\r\n."s}, {"b\xc3\xa4r.txt", "12"}}};
  int n = 0;
  test_support::ScratchDir made("mime");
  enum Shape { kPlain, kHtml, kHtmlAndImage };
  for (const std::string& body : bodies) {
    for (const auto& attachments : attachment_sets) {
      for (const Shape shape : {kPlain, kHtml, kHtmlAndImage}) {
        CEmail memory;
        memory.MailBody(body);
        CEmail disk;
        disk.Html(shape != kPlain);
        ASSERT_FALSE(disk.MailBody(FileWith(made, "body" + std::to_string(n++), body)));
        if (shape == kHtmlAndImage) {
          const auto image = FileWith(made, "image" + std::to_string(n++), "\x89PNG\0."s);
          ASSERT_FALSE(disk.Embed("chart.png", image, "image/png"));
        }
        for (const auto& [name, bytes] : attachments) {
          ASSERT_FALSE(disk.Attach(name, FileWith(made, "attachment" + std::to_string(n++), bytes), "application/pdf"));
        }
        for (bool eight_bit_ok : {false, true}) {
          const BodyPlan plan = disk.Plan(eight_bit_ok);
          const std::string header = disk.Header(plan, 0);
          std::string data = Data(disk, plan, header);
          if (attachments.empty() && shape == kPlain) {
            EXPECT_EQ(data, Data(memory, memory.Plan(eight_bit_ok), header));
          }
          ASSERT_EQ(data.substr(data.size() - 3), ".\r\n");
          data.resize(data.size() - 3);
          EXPECT_EQ(data.find("\r\n.\r\n"), std::string::npos);
          std::size_t stuffed = 0;
          for (std::size_t at = data.find("\n.."); at != std::string::npos; at = data.find("\n..", at + 1)) ++stuffed;
          std::string message;
          EXPECT_TRUE(disk.WriteMessage(plan, header, [&](std::string_view chunk) {
            message += chunk;
            return true;
          }));
          EXPECT_EQ(message.size(), data.size() - stuffed);
          EXPECT_EQ(disk.DataSize(plan, header), data.size() - stuffed)
              << body.size() << " bytes, " << attachments.size() << " attachments, shape " << shape << ", 8BITMIME "
              << eight_bit_ok;
          if ((!attachments.empty() || shape != kPlain) && body.find("=_") != std::string::npos) {
            EXPECT_EQ(plan.encoding, TransferEncoding::kQuotedPrintable);
          }
        }
      }
    }
  }
}

TEST(CEmailHeader, KeepsEveryLineAHeaderLine) {
  CEmail mail;
  mail.FromAddress("alerts@example.com");
  mail.Cargo("Message-Id: <1@example.com>\r\n\r\nX-Mailer: postrine\n");
  std::vector<std::string> many = {" ", "", "first@example.com\t"};
  for (int i = 0; i < 30; ++i) many.push_back("recipient" + std::to_string(i) + "@example.com");
  mail.DestList(many);
  EXPECT_EQ(mail.Recipients().size(), 31u) << "blanks trimmed, empty pieces left out";
  const std::string header = mail.Header(mail.Plan(false), 0);
  EXPECT_EQ(header.find("\r\n\r\n"), header.size() - 4) << "only the last line is empty";
  EXPECT_NE(header.find("Message-Id: <1@example.com>\r\nX-Mailer: postrine\r\nMIME-Version: 1.0\r\n"),
            std::string::npos);
  for (const std::string& line : Lines(header)) EXPECT_LE(line.size(), 78u) << line;
  EXPECT_NE(header.find("To: first@example.com,"), std::string::npos);
}

// A subject a reader would not show as typed goes as encoded words; either
// way the reader shows the text typed (line breaks as blanks), within lines
// of 78 characters, and each encoded word holds whole characters, since a
// reader decodes each by itself (RFC 2047 section 5).
TEST(CEmailHeader, ASubjectAReaderWouldNotShowAsTypedGoesAsEncodedWords) {
  std::string two_and_three;
  for (int i = 0; i < 40; ++i) two_and_three += "\xc3\xa4\xe2\x82\xac";
  const std::pair<std::string, bool> cases[] = {
      {"Nightly report", false}, {"a\tb", false}, {"red \x1b[31m alert", true}, {"ring\x07", true},
      {"delete \x7f", true}, {"re: =?iso-8859-1?Q?x?= y", true}, {"Bericht f\xc3\xbcr M\xc3\xa4rz", true},
      {two_and_three, true}, {std::string(34, 'x') + " " + std::string(34, 'y'), false},
      {std::string(990, 'z'), true},  // longer than a line may be
      {"a " + std::string(998, 'w'), true},  // a word past 998
  };
  for (const auto& [subject, encoded] : cases) {
    CEmail mail;
    mail.Subject(subject);
    std::vector<std::string> lines = Lines(mail.Header(mail.Plan(false), 0));
    auto line = std::find_if(lines.begin(), lines.end(), [](auto& l) { return l.starts_with("Subject: "); });
    auto end = std::find_if(line + 1, lines.end(), [](auto& l) { return l[0] != ' ' && l[0] != '\t'; });
    ASSERT_EQ(line->starts_with("Subject: =?"), encoded) << subject;
    const bool one_line = end - line == 1;
    std::string shown;
    for (; line != end; ++line) {
      EXPECT_LE(line->size(), encoded ? 76u : 78u) << *line;
      if (!encoded) shown += *line;
      for (std::size_t word = line->find("=?utf-8?B?"); word != std::string::npos;
           word = line->find("=?utf-8?B?", word + 10)) {
        std::string bytes;
        EXPECT_TRUE(Base64Decode(line->substr(word + 10, line->find("?=", word + 10) - word - 10), bytes));
        EXPECT_TRUE(IsUtf8(bytes)) << *line;
        shown += bytes;
      }
    }
    EXPECT_EQ(shown, encoded ? subject : "Subject: " + subject);
    if (!encoded && 9 + subject.size() <= 78) {
      EXPECT_TRUE(one_line) << subject;
    }
  }
}

// A file that changed since the first pass, before or while it is sent: the
// size and encoding announced may no longer hold, a text attachment's
// charset may be false, and a file rewritten in place once the first piece
// has gone out would reach the server half old, half new. The end of the
// data is never sent then.
TEST(CEmailData, AFileThatChangedSinceItWasPlannedEndsTheDataWithoutItsEnd) {
  struct Case {
    const char* type;  // an attachment's or an image's; none for the body
    std::string planned;
    std::string sent;
    bool while_sent;
    bool html = false;  // the body is HTML, the image embedded in it
  };
  const std::string planned = "the body as planned\n";
  const Case cases[] = {
      {nullptr, planned, "short\n", false},
      {nullptr, planned, "a body that grew longer than it was\n", false},
      {nullptr, planned, "the body\r\nas planned", false},
      {nullptr, planned, "the bod\xe4 as planned\n", false},
      {nullptr, planned, "THE BODY AS PLANNED\n", false},
      {"text/plain", "Zurich", "Z\xfcrich", false},
      {nullptr, std::string(300 * 1024, 'a'), std::string(300 * 1024, 'b'), true},
      {"application/octet-stream", std::string(300 * 1024, 'a'), std::string(300 * 1024, 'b'), true},
      // Its text first, made again from what the file holds now.
      {nullptr, "<p>the body</p>", "<p>the BODY</p>", false, true},
      {nullptr, "<p>the body</p>", "<P>the body</P>", false, true},
      {"image/png", std::string(300 * 1024, 'a'), std::string(300 * 1024, 'b'), true, true},
  };
  for (const Case& c : cases) {
    test_support::ScratchDir made("mime");
    CEmail mail;
    const auto file = FileWith(made, "big.txt", c.planned);
    mail.Html(c.html);
    if (c.type != nullptr) {
      mail.MailBody("see attached\n");
      ASSERT_FALSE(c.html ? mail.Embed("big.txt", file, c.type) : mail.Attach("big.txt", file, c.type));
    } else {
      ASSERT_FALSE(mail.MailBody(file));
    }
    const BodyPlan plan = mail.Plan(true);
    if (!c.while_sent) std::ofstream(made / "big.txt", std::ios::binary | std::ios::trunc) << c.sent;
    bool rewritten = !c.while_sent;
    std::string data;
    EXPECT_FALSE(mail.WriteData(plan, "\r\n", [&](std::string_view chunk) {
      data += chunk;
      // In place, at the same size.
      if (!rewritten) std::fstream(made / "big.txt", std::ios::in | std::ios::out | std::ios::binary) << c.sent;
      rewritten = true;
      return true;
    })) << c.sent.substr(0, 20);
    EXPECT_EQ(mail.ReadError(), !c.type  ? "the mail file changed while it was sent"
                                : c.html ? "the embedded image big.txt changed while it was sent"
                                         : "the attachment big.txt changed while it was sent");
    EXPECT_EQ(data.find("\r\n.\r\n"), std::string::npos) << c.sent.substr(0, 20);
  }
}

// A reader shows text without a charset as US-ASCII: "Z\xc3\x83\xc2\xbcrich".
TEST(CEmailAttachment, TextSaysItsCharsetAndTravelsAsItsVeryBytes) {
  const std::pair<std::string, std::string> cases[] = {
      {"Zurich\r\n", "text/plain; charset=us-ascii"},
      {"\xef\xbb\xbfZ\xc3\xbcrich", "text/plain; charset=utf-8"},
      {"\xfe\xff\0Z\0\xfc"s, "text/plain; charset=utf-16"},
      {"\xff\xfe\0\0Z\0\0\0"s, "text/plain; charset=utf-32"},
      {"", "text/plain; charset=us-ascii"},
      {"Z\xfcrich", "application/pdf"},
  };
  test_support::ScratchDir made("mime");
  for (const auto& [bytes, content_type] : cases) {
    CEmail mail;
    mail.MailBody("see attached\n");
    const std::string type = content_type.substr(0, content_type.find(';'));
    ASSERT_FALSE(mail.Attach("notes.txt", FileWith(made, "notes.txt", bytes), type));
    const BodyPlan plan = mail.Plan(true);
    const std::string data = Data(mail, plan, mail.Header(plan, 0));
    const std::size_t at = data.find("Content-Type: " + content_type + "; name=\"notes.txt\"\r\n");
    ASSERT_NE(at, std::string::npos) << content_type << "\n" << data;
    const std::size_t start = data.find("\r\n\r\n", at) + 4;
    std::string decoded;
    EXPECT_TRUE(Base64Decode(bytes.empty() ? "" : data.substr(start, data.find("\r\n", start) - start), decoded));
    EXPECT_EQ(decoded, bytes) << content_type;
  }
}

namespace {

// The attachment's header block in the message.
std::string AttachmentHeaderOf(const std::string& name, const std::string& type) {
  test_support::ScratchDir made("mime");
  CEmail mail;
  mail.MailBody("see attached\n");
  EXPECT_FALSE(mail.Attach(name, FileWith(made, "named", "x"), type));
  const BodyPlan plan = mail.Plan(true);
  const std::string data = Data(mail, plan, mail.Header(plan, 0));
  const std::size_t at = data.rfind("Content-Type: " + type);
  return data.substr(at, data.find("\r\n\r\n", at) + 2 - at);
}

}  // namespace

TEST(CEmailAttachment, NamesTheFileByItsBaseNameInBothForms) {
  EXPECT_EQ(AttachmentHeaderOf("reports/q1 \"final\".csv", "application/pdf"),
            "Content-Type: application/pdf; name=\"q1 \\\"final\\\".csv\"\r\nContent-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"q1 \\\"final\\\".csv\"\r\n");
  EXPECT_EQ(AttachmentHeaderOf("B\xc3\xa4r 1.txt", "application/pdf"),
            "Content-Type: application/pdf;\r\n name=\"=?utf-8?B?QsOkciAxLnR4dA==?=\"\r\n"
            "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n"
            " filename*=utf-8''B%C3%A4r%201.txt\r\n");
}

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
        for (const std::string& line : Lines(header)) {
          EXPECT_LE(line.size(), 78u) << what << " \u00d7 " << n << "\n" << header;
          // Every piece of a UTF-8 name is whole characters, as readers
          // decode each by itself: none starts inside a character.
          const std::size_t piece = line.find("*=");
          if (line.starts_with(" filename*") && piece != std::string::npos) {
            const std::string value = line.substr(piece + (line.find("*=utf-8''") == piece ? 9 : 2));
            EXPECT_FALSE(value.size() > 1 && value[0] == '%' && std::string("89AB").find(value[1]) != value.npos)
                << what << ": " << line;
          }
        }
      }
    }
  }
}

namespace {

// The header's field `name` with its folds, or empty when it has none.
std::string FieldOf(const std::string& header, const std::string& name) {
  const std::size_t at = header.find("\r\n" + name + ":");
  if (at == std::string::npos) return {};
  std::size_t end = at + 2;
  do end = header.find("\r\n", end) + 2;
  while (header[end] == ' ');
  return header.substr(at + 2, end - at - 2);
}

// What a reader shows of a folded field: folds taken out and encoded words
// decoded, the blanks between two of them dropped. False when a word holds
// part of a character, since a reader decodes each by itself. `decoded`
// gets each encoded word's text.
bool Shown(const std::string& field, std::string& shown, std::vector<std::string>* decoded = nullptr) {
  std::string unfolded;
  for (const std::string& line : Lines(field)) unfolded += line;
  shown.clear();
  bool after_word = false;
  for (std::size_t at = 0; at < unfolded.size();) {
    const std::size_t word = unfolded.find("=?utf-8?B?", at);
    const std::string between = unfolded.substr(at, word == std::string::npos ? word : word - at);
    if (!after_word || between.find_first_not_of(' ') != std::string::npos || word == std::string::npos) {
      shown += between;
    }
    if (word == std::string::npos) break;
    const std::size_t close = unfolded.find("?=", word + 10);
    std::string bytes;
    if (!Base64Decode(unfolded.substr(word + 10, close - word - 10), bytes) || !IsUtf8(bytes)) return false;
    shown += bytes;
    if (decoded) decoded->push_back(bytes);
    at = close + 2;
    after_word = true;
  }
  return true;
}

}  // namespace

// A name a reader would take apart (a comma ends a mailbox) goes quoted, one
// beyond ASCII or that reads like an encoded word goes as encoded words; the
// envelope never sees it.
TEST(CEmailHeader, ShowsEachMailboxWithItsDisplayNameAsAReaderParsesIt) {
  std::string long_name;
  for (int i = 0; i < 30; ++i) long_name += "M\xc3\xbcller \xe2\x82\xac ";
  const std::pair<std::string, std::string> cases[] = {
      {"ops@x.io", "From: ops@x.io\r\n"},
      {"<ops@x.io>", "From: ops@x.io\r\n"},
      {"Backup Cron <backup@x.io>", "From: Backup Cron <backup@x.io>\r\n"},
      {"\"Smith, John (IT)\" <j@x.io>", "From: \"Smith, John (IT)\" <j@x.io>\r\n"},
      {"\"say \\\"hi\\\"\" <j@x.io>", "From: \"say \\\"hi\\\"\" <j@x.io>\r\n"},
      {"J\xc3\xb6rg <j@x.io>", "From: =?utf-8?B?SsO2cmc=?= <j@x.io>\r\n"},
      {"=?utf-8?B?eA==?= <j@x.io>", "From: =?utf-8?B?PT91dGYtOD9CP2VBPT0/PQ==?= <j@x.io>\r\n"},
      {std::string(90, 'a') + " <j@x.io>", ""},  // an atom longer than a line
      {long_name + "<j@x.io>", ""},
  };
  for (const auto& [typed, expected] : cases) {
    CEmail mail;
    mail.FromAddress(typed);
    const std::string field = FieldOf(mail.Header(mail.Plan(false), 0), "From");
    for (const std::string& line : Lines(field)) EXPECT_LE(line.size(), 78u) << line;
    if (!expected.empty()) {
      EXPECT_EQ(field, expected);
      continue;
    }
    std::string shown;
    std::vector<std::string> decoded;
    EXPECT_TRUE(Shown(field, shown, &decoded)) << field;
    Address address;
    ParseAddress(typed, false, address);
    EXPECT_EQ(shown, "From: " + address.name + " <j@x.io>");
    // Some readers keep the blanks between encoded words in an address
    // field: words of the name split only where it has a blank.
    if (typed == long_name + "<j@x.io>") {
      ASSERT_GT(decoded.size(), 1u);
      for (std::size_t i = 0; i + 1 < decoded.size(); ++i) EXPECT_TRUE(decoded[i].ends_with(' ')) << decoded[i];
    }
  }
}

TEST(CEmailHeader, ShowsToCcAndReplyToInTheirPlaceAndNoBccAnywhere) {
  CEmail mail;
  mail.FromAddress("Alerts <alerts@example.com>");
  mail.DestList({"Ops <ops@example.com>", " "});
  std::vector<std::string> cc = {"", "\xc3\x89quipe R\xc3\xa9seau <net@example.com>"};
  for (int i = 0; i < 6; ++i) cc.push_back("Team Member " + std::to_string(i) + " <member" + std::to_string(i) + "@example.com>");
  mail.CcList(cc);
  mail.BccList({"archive@vault.example", "ops@example.com"});
  mail.ReplyTo("Queue <queue@tickets.example>");
  mail.Cargo("X-Mailer: postrine\r\n");
  EXPECT_FALSE(mail.HeaderField("X-Ticket", "42"));
  mail.Subject("s");
  EXPECT_EQ(mail.Recipients(), (std::vector<std::string>{"Ops <ops@example.com>", cc[1], cc[2], cc[3], cc[4], cc[5],
                                                          cc[6], cc[7], "archive@vault.example", "ops@example.com"}));
  const std::string header = mail.Header(mail.Plan(false), 0);
  EXPECT_EQ(header.find("vault"), std::string::npos) << header;
  EXPECT_EQ(header.find("Bcc"), std::string::npos);
  std::size_t last = 0;
  for (const char* name : {"From:", "To:", "Cc:", "Reply-To:", "Subject:", "X-Mailer:", "X-Ticket:", "MIME-Version:"}) {
    const std::size_t at = header.find(std::string("\r\n") + name);
    ASSERT_NE(at, std::string::npos) << name;
    EXPECT_GT(at, last) << name;
    last = at;
  }
  EXPECT_EQ(FieldOf(header, "To"), "To: Ops <ops@example.com>\r\n");
  EXPECT_EQ(FieldOf(header, "Reply-To"), "Reply-To: Queue <queue@tickets.example>\r\n");
  const std::string cc_field = FieldOf(header, "Cc");
  for (const std::string& line : Lines(cc_field)) EXPECT_LE(line.size(), 78u) << line;
  std::string shown;
  ASSERT_TRUE(Shown(cc_field, shown));
  EXPECT_TRUE(shown.starts_with("Cc: \xc3\x89quipe R\xc3\xa9seau <net@example.com>, Team Member 0 <")) << shown;
  // For a sender that takes the recipients from the header, after Cc.
  const std::string with_bcc = mail.Header(mail.Plan(false), 0, false, true);
  EXPECT_EQ(FieldOf(with_bcc, "Bcc"), "Bcc: archive@vault.example, ops@example.com\r\n");
  EXPECT_GT(with_bcc.find("\r\nBcc:"), with_bcc.find("\r\nCc:"));

  // Without a usable Cc piece or Reply-To there is no such line; a message
  // only for Bcc recipients still has a To: field a reader can parse.
  mail.CcList({" "});
  mail.ReplyTo("");
  mail.DestList({""});
  const std::string plain = mail.Header(mail.Plan(false), 0);
  EXPECT_EQ(plain.find("Cc:"), std::string::npos);
  EXPECT_EQ(plain.find("Reply-To:"), std::string::npos);
  EXPECT_EQ(FieldOf(plain, "To"), "To: undisclosed-recipients:;\r\n");
}

TEST(CEmailHeader, TakesAnExtraFieldOnlyWhenItStaysOneLineOfItsOwn) {
  struct Case {
    std::string name;
    std::string value;
    std::string result;  // the reason, or the line added
  };
  const Case cases[] = {
      {"X-Ticket", "INC-42", "X-Ticket: INC-42\r\n"},
      {"x-priority", "1 (Highest)", "x-priority: 1 (Highest)\r\n"},
      {"X-Note", "Gr\xc3\xbc\xc3\x9f" "e", "X-Note: =?utf-8?B?R3LDvMOfZQ==?=\r\n"},
      {"X-Note", "", "X-Note: \r\n"},
      {"X Ticket", "1", "the header name \"X Ticket\" holds a blank"},
      {"X:Ticket", "1", "the header name \"X:Ticket\" holds a \":\""},
      {"X-T\xc3\xa4", "1", "the header name \"X-T\xc3\xa4\" holds a character other than printable ASCII"},
      {"X-T\r\nBcc", "1", "the header name \"X-T..Bcc\" holds a character other than printable ASCII"},
      {"", "1", "the header name is empty"},
      {std::string(61, 'X'), "1", "the header name \"" + std::string(61, 'X') + "\" is longer than 60 characters"},
      {"From", "a@x.io", "\"From\" is written by the program itself"},
      {"bcc", "a@x.io", "\"bcc\" is written by the program itself"},
      {"Content-Type", "text/html", "\"Content-Type\" is written by the program itself"},
      {"MIME-version", "1.0", "\"MIME-version\" is written by the program itself"},
      {"Reply-To", "a@x.io", "\"Reply-To\" is written by the program itself"},
      {"X-Ticket", "1\r\nBcc: a@x.io", "the value of \"X-Ticket\" holds a line break"},
      {"X-Ticket", "1\n", "the value of \"X-Ticket\" holds a line break"},
      {"X-Ticket", "1\r\n 2", "the value of \"X-Ticket\" holds a line break"},  // a folded value
      {"X-Ticket", "1\0Bcc"s, "the value of \"X-Ticket\" holds a NUL character"},
  };
  for (const Case& c : cases) {
    CEmail mail;
    const std::optional<std::string> reason = mail.HeaderField(c.name, c.value);
    const std::string header = mail.Header(mail.Plan(false), 0);
    if (c.result.ends_with("\r\n")) {
      EXPECT_FALSE(reason) << *reason;
      EXPECT_NE(header.find("\r\n" + c.result + "MIME-Version"), std::string::npos) << header;
    } else {
      EXPECT_EQ(reason.value_or(""), c.result);
      EXPECT_EQ(header.find("\r\nMIME-Version"), header.find("Subject: \r\n") + 9) << "nothing added";
    }
  }
  // A long value folds at its blanks, or goes as encoded words of whole
  // characters where it has none.
  for (const std::string& value : {"word " + std::string(200, 'w') + " and more words to fold", std::string(300, 'z'),
                                   std::string(40, ' ') + std::string(100, 'y')}) {
    CEmail mail;
    ASSERT_FALSE(mail.HeaderField("X-Long", value));
    const std::string field = FieldOf(mail.Header(mail.Plan(false), 0), "X-Long");
    for (const std::string& line : Lines(field)) EXPECT_LE(line.size(), 998u);
    std::string shown;
    EXPECT_TRUE(Shown(field, shown));
    EXPECT_EQ(shown, "X-Long: " + value);
  }
}

// The text of an HTML document is read in chunks of 64 KiB: a UTF-16
// character cut by a chunk's end reads as whole, and a byte-order mark is
// no text.
TEST(ContentTextOfHtml, ReadsADocumentAsItsByteOrderMarkSays) {
  auto text_of = [](const std::string& bytes, bool utf8) {
    std::string text, error;
    EXPECT_TRUE(Content::TextOfHtml(Content(bytes), utf8).Read(
        [&](std::string_view chunk) {
          EXPECT_LE(chunk.size(), 64u * 1024);
          text += chunk;
          return true;
        },
        0, error));
    return text;
  };
  auto utf16 = [](const std::string& utf8, bool big_endian) {
    std::u16string units;
    runtime::Utf8ToUtf16(utf8, units);
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t u : units) {
      const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xff);
      bytes += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
  };
  // The emoji's two units end at the first chunk's end, or are cut by it.
  for (const std::size_t before : {32765u, 32766u}) {
    const std::string page = "<p>" + std::string(before - 3, 'a') + " \xF0\x9F\x93\x8E b</p>";
    const std::string expected = text_of(page, true);
    EXPECT_NE(expected.find("\xF0\x9F\x93\x8E b"), std::string::npos);
    for (const bool big_endian : {false, true}) EXPECT_EQ(text_of(utf16(page, big_endian), false), expected);
    EXPECT_EQ(text_of("\xEF\xBB\xBF" + page, true), expected);
  }
  EXPECT_EQ(text_of("\xFF\xFE<\0p\0>\0x\0y"s, false), "x\xEF\xBF\xBD\r\n") << "a unit cut off at the end";
}

// A draft for Graph leaves its large files out; they are read apart, and
// a file rewritten since it was planned is never passed on whole.
namespace {

TEST(CEmailDraft, LeavesOutTheMarkedAttachmentsAndReadsThemApartAsPlanned) {
  test_support::ScratchDir made("mime");
  CEmail mail;
  mail.MailBody("see attached\n");
  ASSERT_FALSE(mail.Attach("small.csv", FileWith(made, "small.csv", "a,b\n"), "text/csv"));
  ASSERT_FALSE(mail.Attach("dir/big.bin", FileWith(made, "big.bin", std::string(200 * 1024, 'x')), "application/zip"));
  const BodyPlan plan = mail.Plan(false);
  const CEmail draft = mail.Without({false, true});
  const std::string header = draft.Header(plan, 0);
  const std::string message = Data(draft, plan, header);
  EXPECT_EQ(message.size(), draft.DataSize(plan, header) + 3);  // the DATA phase's "." line
  EXPECT_NE(message.find("small.csv"), std::string::npos);
  EXPECT_EQ(message.find("big.bin"), std::string::npos);

  std::string bytes;
  ASSERT_TRUE(mail.ReadAttachment(1, [&](std::string_view chunk) {
    bytes += chunk;
    return true;
  }));
  EXPECT_EQ(bytes, std::string(200 * 1024, 'x'));
  std::fstream(made / "big.bin", std::ios::in | std::ios::out | std::ios::binary) << "y";
  EXPECT_FALSE(mail.ReadAttachment(1, [](std::string_view) { return true; }));
  EXPECT_EQ(mail.ReadError(), "the attachment big.bin changed while it was sent");
}

}  // namespace
