// The SMTP dialogue against scripted servers: the exact commands the client
// writes, in which writes, under TLS or not, and what it makes of each
// reply: pipelining, all-or-nothing delivery, the logons, SIZE, the TLS
// rules and the time limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>

#include "mailclient/smtp/csmtp.h"
#include "mailclient/mime/encoding.h"
#include "mailclient/smtp/scripted_server.h"

using mailclient::Outcome;
using mailclient::TlsMode;
using namespace scripted;

namespace {

// With PIPELINING the envelope goes in one write and QUIT with the end of
// the message; without it, command by command. A SIZE without a number
// sets no limit. Replies may come several in one piece or byte by byte.
TEST(CSmtpPipelining, BatchesTheEnvelopeAndQuitOnlyWhenTheServerPipelines) {
  for (const bool pipelining : {true, false}) {
    Server server(Script({{kGreeting, Ehlo(pipelining ? "PIPELINING" : "SIZE"), kMail},
                          {Rcpt("a@example.com"), Rcpt("b@example.com"), kData, kAccepted, kQuit}}));
    server.piece = pipelining ? std::string::npos : 1;  // several replies in one read, or byte by byte
    const Result r = Deliver(server, {.to = {"a@example.com", " b@example.com", ""}});
    ASSERT_TRUE(r.sent) << r.error;
    EXPECT_EQ(server.Unplayed(), 0u);
    const std::string envelope =
        "MAIL FROM:<alerts@example.com>\r\nRCPT TO:<a@example.com>\r\nRCPT TO:<b@example.com>\r\n";
    const bool one_write = std::any_of(server.writes.begin(), server.writes.end(),
                                       [&](const Write& w) { return w.bytes == envelope; });
    EXPECT_EQ(one_write, pipelining);
    const std::string& last = server.writes.back().bytes;
    EXPECT_EQ(last.ends_with("\r\n.\r\nQUIT\r\n"), pipelining) << testing::PrintToString(last);
  }
}

struct Case {
  const char* name;
  Settings settings;
  std::vector<Step> script;
  Outcome outcome;
  std::string error;  // a part of ErrorMsg
  bool hangs_up = false;
};

const std::string kPassword = "tanstaaftanstaaf";
const Settings kTim{.user = "tim", .password = kPassword};
const Settings kTimInClear{.user = "tim", .password = kPassword, .tls = TlsMode::kOff};

// Inside TLS the mechanism every server can check (a server that keeps
// hashed passwords offers CRAM-MD5 all the same, and refuses it); in clear
// the one that keeps the password off the line. `exchange`: the logon up
// to its refusal, when more than the AUTH line.
Case Refused(const char* name, bool tls, const std::string& offered, const std::string& mechanism,
             std::vector<Step> exchange = {}) {
  const std::string refusal = "535 5.7.8 authentication failed";
  if (exchange.empty()) exchange = {{"AUTH " + mechanism, ""}};
  exchange.back().reply = refusal + "\r\n";
  return {name, tls ? kTim : kTimInClear,
          Script({tls ? kSecured : std::vector<Step>{kGreeting}, {Ehlo(offered)}, exchange, {kQuit}}),
          Outcome::kPermanent, "AUTH " + mechanism + ": " + refusal};
}

// Every script is played to its end and nothing beyond it is sent: after a
// refused envelope RSET, after any other refusal QUIT (none to a server
// that went silent or away), and never MAIL after a refused logon. The
// trace never shows the password nor the body.
TEST(CSmtpDialogue, EachReplyDecidesTheOutcomeAndWhatIsSentAfterIt) {
  const Step kRset{"RSET", "250 ok\r\n"};
  const Settings two{.to = {"a@example.com", "b@example.com"}};
  auto logon = [](const std::string& offered, std::vector<Step> exchange) {
    return Script({{kGreeting, Ehlo(offered)}, exchange});
  };
  const Case cases[] = {
      {"a refused recipient", two,
       {kGreeting, Ehlo("PIPELINING"), kMail, Rcpt("a@example.com"), Rcpt("b@example.com", "550 5.1.1 user unknown"),
        kRset, kQuit},
       Outcome::kPermanent, "RCPT TO:<b@example.com>: 550 5.1.1 user unknown"},
      {"a recipient refused for now", two,
       {kGreeting, Ehlo("PIPELINING"), kMail, Rcpt("a@example.com"), Rcpt("b@example.com", "450 4.2.1 mailbox busy"),
        kRset, kQuit},
       Outcome::kTemporary, "RCPT TO:<b@example.com>: 450 4.2.1 mailbox busy"},
      {"the sender refused is named alone, though the recipients are refused with it", {},
       {kGreeting, Ehlo("PIPELINING"), {"MAIL FROM:", "553 5.7.1 sender rejected\r\n"},
        Rcpt("ops@example.com", "503 5.5.1 need MAIL first"), kRset, kQuit},
       Outcome::kPermanent, "MAIL FROM:<alerts@example.com>: 553 5.7.1 sender rejected"},
      {"an old server greeted with HELO, and without SIZE or BODY", {},
       {kGreeting, {"EHLO ", "500 what?\r\n"}, {"HELO ", "250 hi\r\n"},
        {"MAIL FROM:<alerts@example.com>\r\n", "250 ok\r\n"}, Rcpt("ops@example.com"), kData, kAccepted, kQuit},
       Outcome::kSent, ""},
      {"a refused greeting", {}, {{"", "554 5.3.2 no service\r\n"}, kQuit}, Outcome::kPermanent,
       "greeting: 554 5.3.2 no service"},
      {"a message larger than SIZE", {}, {kGreeting, Ehlo("SIZE 100"), kQuit}, Outcome::kPermanent,
       "is larger than the server accepts (100 bytes)"},
      {"a refused message whatever becomes of QUIT", {},
       {kGreeting, Ehlo("PIPELINING"), kMail, Rcpt("ops@example.com"), kData, {kMessage, "554 5.6.0 rejected\r\n"},
        {"QUIT", ""}},
       Outcome::kPermanent, "end of message: 554 5.6.0 rejected"},
      {"a silent server", {.timeout_seconds = 7}, {kGreeting, {"EHLO", ""}}, Outcome::kTemporary,
       "EHLO: the server did not answer: no answer within 7 seconds"},
      {"a vanishing server", {}, {kGreeting, Ehlo(""), {"MAIL", ""}}, Outcome::kTemporary,
       "MAIL FROM:<alerts@example.com>: the server closed the connection", true},
      // TLS
      {"STARTTLS when offered", {}, Script({kSecured, {Ehlo("PIPELINING")}, kDelivery}), Outcome::kSent, ""},
      {"clear text when not offered and nothing to hide", {}, Script({{kGreeting, Ehlo("SIZE 1000")}, kDelivery}),
       Outcome::kSent, ""},
      {"the password withheld from a server without TLS", kTim, {kGreeting, Ehlo("AUTH PLAIN"), kQuit},
       Outcome::kPermanent,
       "the server mail.example.com offered no TLS, so the password was withheld; set TLS=off"},
      {"TLS=off logs on in the clear", kTimInClear,
       Script({logon("STARTTLS,AUTH PLAIN", {{"AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm", "235 ok\r\n"}}), kDelivery}),
       Outcome::kSent, ""},
      {"TLS=starttls and none offered", {.tls = TlsMode::kStartTls}, {kGreeting, Ehlo("SIZE 1000"), kQuit},
       Outcome::kPermanent, "the server mail.example.com offers no STARTTLS, and TLS=starttls in postrine.ini"},
      {"STARTTLS refused", {}, {kGreeting, Ehlo("STARTTLS"), {"STARTTLS", "454 4.7.0 TLS not available\r\n"}, kQuit},
       Outcome::kTemporary, "STARTTLS: 454 4.7.0 TLS not available"},
      {"clear text after the 220 to STARTTLS", {},
       {kGreeting, Ehlo("STARTTLS"), {"STARTTLS", "220 go ahead\r\n250-injected\r\n"}}, Outcome::kPermanent,
       "STARTTLS: the server sent data before the TLS handshake"},
      {"a certificate that does not hold, and no second try for the logon",
       {.user = "tim", .password = kPassword, .handshake_fails = true}, kSecured, Outcome::kPermanent,
       "STARTTLS: the certificate of the server is not issued for mail.example.com"},
      {"SMTPS on port 465", {.port = 465}, Script({{kGreeting, Ehlo("AUTH PLAIN")}, kDelivery}), Outcome::kSent, ""},
      // The password mechanisms
      Refused("PLAIN first inside TLS", true, "AUTH LOGIN PLAIN CRAM-MD5", "PLAIN",
              {{"AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm", ""}}),
      Refused("CRAM-MD5 first in clear", false, "AUTH LOGIN PLAIN CRAM-MD5", "CRAM-MD5",
              {{"AUTH CRAM-MD5", "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n"},
               {"dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw", ""}}),
      Refused("LOGIN before CRAM-MD5 inside TLS", true, "AUTH CRAM-MD5 LOGIN", "LOGIN",
              {{"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"}, {"dGlt", "334 UGFzc3dvcmQ6\r\n"},
               {"dGFuc3RhYWZ0YW5zdGFhZg==", ""}}),
      Refused("PLAIN before LOGIN in clear", false, "AUTH LOGIN PLAIN", "PLAIN"),
      Refused("LOGIN offered the old way", false, "AUTH=LOGIN", "LOGIN"),
      Refused("CRAM-MD5 inside TLS when alone", true, "AUTH CRAM-MD5", "CRAM-MD5"),
      {"a logon refused for now", kTimInClear,
       logon("AUTH PLAIN,PIPELINING", {{"AUTH PLAIN", "454 4.7.0 try again later\r\n"}, kQuit}),
       Outcome::kTemporary, "AUTH PLAIN: 454 4.7.0 try again later"},
      {"a logon refused, then the connection closed", kTimInClear,
       logon("AUTH PLAIN,PIPELINING", {{"AUTH PLAIN", "535 5.7.8 bad credentials\r\n"}, {"QUIT", ""}}),
       Outcome::kPermanent, "AUTH PLAIN: 535 5.7.8 bad credentials", true},
      {"a command line too long, then closed", kTimInClear,
       logon("AUTH PLAIN,PIPELINING", {{"AUTH PLAIN", "500 5.0.0 Command line too long\r\n"}, {"QUIT", ""}}),
       Outcome::kPermanent, "AUTH PLAIN: 500 5.0.0 Command line too long", true},
      {"a challenge that cannot be answered is cancelled", kTimInClear,
       logon("AUTH PLAIN,PIPELINING", {{"AUTH PLAIN", "334 bW9yZT8=\r\n"}, {"*", "501 5.7.0 cancelled\r\n"}, kQuit}),
       Outcome::kPermanent, "AUTH PLAIN: 501 5.7.0 cancelled"},
  };
  for (const Case& c : cases) {
    Server server(c.script);
    server.hangs_up = c.hangs_up;
    const Result r = Deliver(server, c.settings);
    EXPECT_EQ(r.sent, c.outcome == Outcome::kSent) << c.name << ": " << r.error;
    EXPECT_EQ(r.outcome, c.outcome) << c.name;
    EXPECT_NE(r.error.find(c.error), std::string::npos) << c.name << ": " << r.error;
    EXPECT_EQ(server.Unplayed(), 0u) << c.name;
    EXPECT_FALSE(server.Strayed()) << c.name << ": " << server.commands.back();
    EXPECT_FALSE(Shows(r, kPassword)) << c.name;
    const bool counted = std::any_of(r.trace.begin(), r.trace.end(),
                                     [](const std::string& line) { return line.starts_with("body: "); });
    EXPECT_EQ(counted, Wrote(server, "disk full on db1")) << c.name << ": the body is counted";
    EXPECT_FALSE(Shows(r, "disk full on db1")) << c.name << ": and not shown";
    if (c.settings.port == 465) {
      EXPECT_TRUE(!server.writes.empty() && server.writes.front().tls) << "TLS from the first byte";
    }
  }
}

TEST(CSmtpSize, AnnouncesTheMessageWithoutItsFinalDotLine) {
  Server server({kGreeting, Ehlo("SIZE 100000"), kMail, Rcpt("ops@example.com"), kData, kAccepted, kQuit});
  ASSERT_TRUE(Deliver(server).sent);
  const std::string& mail = server.commands[1];
  const std::string announced = mail.substr(mail.find(" SIZE=") + 6);
  EXPECT_EQ(std::stoul(announced), server.message.size() - 3) << "the message without its final \".\" line";

}

// On the envelope and in the header alike: UTF-8 where the server takes
// it, A-labels where it does not.
TEST(CSmtpAddresses, TravelInTheFormTheServerTakes) {
  const std::string bucher = "b\xc3\xbc" "cher.example";
  const std::string jorg = "j\xc3\xb6rg@" + bucher;
  struct Case {
    std::string extensions;
    std::string from;
    std::string to;
    std::string from_sent;  // on MAIL, with its parameters, and in the header
    std::string to_sent;
    std::string parameters;
  };
  const Case cases[] = {
      {"8BITMIME,SMTPUTF8", jorg, "ops@" + bucher, jorg, "ops@" + bucher, " BODY=8BITMIME SMTPUTF8"},
      {"8BITMIME", "alerts@" + bucher, "ops@" + bucher, "alerts@xn--bcher-kva.example", "ops@xn--bcher-kva.example",
       ""},
      {"SMTPUTF8", "alerts@example.com", "ops@example.com", "alerts@example.com", "ops@example.com", ""},
  };
  for (const Case& c : cases) {
    Server server({kGreeting, Ehlo(c.extensions),
                   {"MAIL FROM:<" + c.from_sent + ">" + c.parameters + "\r\n", "250 ok\r\n"},
                   {"RCPT TO:<" + c.to_sent + ">\r\n", "250 ok\r\n"}, kData, kAccepted, kQuit});
    const Result r = Deliver(server, {.from = c.from, .to = {c.to}});
    EXPECT_TRUE(r.sent) << c.from << ": " << r.error;
    EXPECT_EQ(server.Unplayed(), 0u) << c.from;
    for (const std::string& line : {"From: " + c.from_sent, "To: " + c.to_sent}) {
      EXPECT_NE(server.message.find("\r\n" + line + "\r\n"), std::string::npos) << line;
    }
  }
}

// Refused before anything reaches the server: no address at all before
// any connection (nor a logon), a local part beyond ASCII once the EHLO
// reply shows no SMTPUTF8.
TEST(CSmtpAddresses, ThatCannotBeUsedAreRefusedBeforeAnyIsSent) {
  struct Case {
    std::string from;
    std::vector<std::string> to;
    std::string error;
    bool connects;
  };
  const std::string why = " (the server mail.example.com offers no SMTPUTF8 for a local part beyond ASCII)";
  const Case cases[] = {
      {"alerts@example.com", {"ab", "x.io"},
       "recipient address cannot be used: \"ab\" (no \"@\"), \"x.io\" (no \"@\")", false},
      {"alerts", {"ok@x.io"}, "the sender address \"alerts\" cannot be used (no \"@\")", false},
      {"alerts@example.com", {"", " "}, "no recipient given", false},
      {"alerts@example.com", {"ops@example.com", "j\xc3\xb6rg@example.com"},
       "recipient address cannot be used: \"j\xc3\xb6rg@example.com\"" + why, true},
      {"j\xc3\xb6rg@example.com", {"ops@example.com"},
       "the sender address \"j\xc3\xb6rg@example.com\" cannot be used" + why, true},
  };
  for (const Case& c : cases) {
    for (const bool logon : {false, true}) {
      Server server({kGreeting, Ehlo(logon ? "AUTH PLAIN,8BITMIME" : "8BITMIME,PIPELINING"), kQuit});
      const Settings settings{.from = c.from, .to = c.to, .user = logon ? "tim" : "", .tls = TlsMode::kOff};
      const Result r = Deliver(server, settings);
      EXPECT_EQ(r.outcome, Outcome::kBadAddress) << c.error;
      EXPECT_EQ(r.error.substr(0, c.error.size()), c.error);
      if (c.connects) {
        EXPECT_EQ(server.commands.size(), 2u) << "EHLO, QUIT";
      } else {
        EXPECT_TRUE(server.waits.empty() && server.writes.empty()) << "no connection";
      }
    }
  }
}

TEST(CSmtpTimeLimits, EveryWaitKeepsTheTimeoutAndTheEndOfTheMessageTenTimesIt) {
  Server server({kGreeting, Ehlo("PIPELINING"), kMail, Rcpt("ops@example.com"), kData, kAccepted, {"QUIT", ""}});
  const Result r = Deliver(server, {.timeout_seconds = 7});
  EXPECT_TRUE(r.sent) << "a silent QUIT does not undo a delivery";
  int longer = 0;
  for (int wait : server.waits) {
    EXPECT_LE(wait, 70000);
    if (wait > 7000) ++longer;
  }
  EXPECT_EQ(longer, 1) << "only the reply to the end of the message";
}

TEST(CSmtpData, AMailFileThatChangedWhileSendingIsNotEndedButDropped) {
  const std::string path = testing::TempDir() + "changing_body";
  struct RemovedAtTheEnd {
    std::string path;
    ~RemovedAtTheEnd() { std::remove(path.c_str()); }
  } removed{path};
  std::ofstream(path, std::ios::binary) << "the body as planned\n";
  auto file = std::make_shared<runtime::FileSource>();
  std::string reason;
  ASSERT_TRUE(file->Open(path, reason));
  mailclient::CEmail mail;
  mail.FromAddress("alerts@example.com");
  mail.DestList({"ops@example.com"});
  ASSERT_FALSE(mail.MailBody(file));
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "shorter\n";
  Server server({kGreeting, Ehlo("PIPELINING"), kMail, Rcpt("ops@example.com"), kData});
  mailclient::CSmtp smtp(mail, "mail.example.com", 25);
  smtp.UseTransport(server.Transport());
  EXPECT_FALSE(smtp.Postrine());
  EXPECT_EQ(smtp.Result(), Outcome::kTemporary);
  EXPECT_EQ(smtp.ErrorMsg(), "DATA: the mail file changed while it was sent");
  EXPECT_TRUE(server.message.empty()) << "no end of data sent";
  EXPECT_EQ(server.commands.back(), "DATA");
}

}  // namespace
