// Server replies: whole replies from their lines, and what the EHLO reply
// says the server offers.
#include <gtest/gtest.h>

#include "mailclient/smtp/csmtp.h"
#include "mailclient/smtp/reply.h"

using namespace mailclient;

// A whole reply is quoted with its lines joined; anything else is malformed.
TEST(ReplyParser, JoinsTheLinesOfOneReplyAndRefusesWhatIsNoReply) {
  struct Case {
    std::initializer_list<std::string> lines;
    std::string quote;  // empty: malformed
  };
  const Case cases[] = {
      {{"250-mail.example.com", "250-SIZE 1000", "250 HELP"}, "250 mail.example.com SIZE 1000 HELP"},
      {{"354"}, "354"},
      {{"25"}, ""},
      {{"2500 too long a code"}, ""},
      {{"099 out of range"}, ""},
      {{"250-first", "550 the code changes"}, ""},
      {{"250_no separator"}, ""},
  };
  for (const Case& c : cases) {
    ReplyParser parser;
    ReplyParser::Status status = ReplyParser::Status::kMore;
    for (const std::string& line : c.lines) status = parser.Feed(line);
    if (c.quote.empty()) {
      EXPECT_EQ(status, ReplyParser::Status::kMalformed) << *c.lines.begin();
      EXPECT_NE(parser.error().find("malformed"), std::string::npos);
    } else {
      EXPECT_EQ(status, ReplyParser::Status::kDone);
      EXPECT_EQ(parser.reply().code, std::stoi(c.quote.substr(0, 3)));
      EXPECT_EQ(parser.reply().Quote(), c.quote);
    }
  }
}

TEST(ParseCapabilities, ReadsTheExtensionsPostrineUses) {
  Reply ehlo;
  ehlo.code = 250;
  ehlo.lines = {"mail.example.com greets you", "pipelining", "SIZE 35882577", "8BITMIME",
                "AUTH PLAIN LOGIN CRAM-MD5", "AUTH=LOGIN", "STARTTLS"};
  const Capabilities caps = ParseCapabilities(ehlo);
  EXPECT_TRUE(caps.pipelining && caps.eight_bit_mime && caps.starttls && caps.size);
  EXPECT_EQ(caps.size_limit, 35882577u);
  EXPECT_EQ(caps.auth, (std::vector<std::string>{"PLAIN", "LOGIN", "CRAM-MD5", "LOGIN"}));
}
