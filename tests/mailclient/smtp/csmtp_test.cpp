// The SMTP dialogue against scripted servers: the exact commands the client
// writes, in which writes, and what it makes of each reply: pipelining,
// all-or-nothing delivery, the logons, SIZE, the TLS rules and the time
// limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>

#include "mailclient/smtp/csmtp.h"
#include "mailclient/smtp/scripted_server.h"
#include "support/scratch_dir.h"

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
                                       [&](const std::string& w) { return w == envelope; });
    EXPECT_EQ(one_write, pipelining);
    const std::string& last = server.writes.back();
    EXPECT_EQ(last.ends_with("\r\n.\r\nQUIT\r\n"), pipelining) << testing::PrintToString(last);
  }
}

// An address given again, in whatever form of its domain, gets one RCPT;
// local parts keep their case. Delivery status notices are asked for
// exactly where the server offers them, after the other MAIL parameters,
// the envelope id as xtext; elsewhere nothing of them is sent and the
// trace says why.
TEST(CSmtpEnvelope, EachAddressOnceAndNoticesOnlyWhereOffered) {
  const char* const kNoNotice = "the server offers no DSN: sent without delivery status notices";
  struct Row {
    const char* name;
    Settings settings;
    std::string offered;
    std::string mail_parameters;  // after SIZE
    std::vector<std::string> rcpts;
    bool no_notice_event = false;
  } rows[] = {
      {"duplicates go once",
       {.to = {"ops@example.com", "b@example.com", "ops@EXAMPLE.Com", "Ops@example.com", " b@example.com "}},
       "SIZE,DSN", "", {"ops@example.com>", "b@example.com>", "Ops@example.com>"}},
      {"notices asked and offered",
       {.to = {"ops@example.com", "b@example.com"}, .notify = "SUCCESS,FAILURE", .envid = "job 7+a=b\xc3\xa9"},
       "SIZE,DSN", " RET=HDRS ENVID=job+207+2Ba+3Db+C3+A9",
       {"ops@example.com> NOTIFY=SUCCESS,FAILURE", "b@example.com> NOTIFY=SUCCESS,FAILURE"}},
      {"no envelope id", {.notify = "NEVER"}, "DSN,SIZE", " RET=HDRS", {"ops@example.com> NOTIFY=NEVER"}},
      {"notices asked, not offered", {.notify = "DELAY", .envid = "7"}, "SIZE", "", {"ops@example.com>"}, true},
  };
  for (const Row& row : rows) {
    std::vector<Step> script{kGreeting, Ehlo(row.offered), {"MAIL FROM:", "250 ok\r\n"}};
    for (const std::string& rcpt : row.rcpts) script.push_back({"RCPT TO:<" + rcpt + "\r\n", "250 ok\r\n"});
    script.insert(script.end(), {kData, kAccepted, kQuit});
    Server server(script);
    const Result r = Deliver(server, row.settings);
    ASSERT_TRUE(r.sent) << row.name << ": " << r.error;
    EXPECT_EQ(server.Unplayed(), 0u) << row.name;
    EXPECT_FALSE(server.Strayed()) << row.name << ": " << server.commands.back();
    const std::string& mail = server.commands.at(1);
    const std::size_t size_end = mail.find_first_not_of("0123456789", mail.find(" SIZE=") + 6);
    EXPECT_EQ(mail.substr(0, 36), "MAIL FROM:<alerts@example.com> SIZE=") << row.name;
    EXPECT_EQ(mail.substr(std::min(size_end, mail.size())), row.mail_parameters) << row.name << ": " << mail;
    const bool event = std::find(r.trace.begin(), r.trace.end(), kNoNotice) != r.trace.end();
    EXPECT_EQ(event, row.no_notice_event) << row.name;
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
  auto logon = [](const std::string& offered, std::vector<Step> exchange) {
    return Script({{kGreeting, Ehlo(offered)}, exchange});
  };
  const Case cases[] = {
      {"the sender refused is named alone, though the recipients are refused with it", {},
       {kGreeting, Ehlo("PIPELINING"), {"MAIL FROM:", "553 5.7.1 sender rejected\r\n"},
        Rcpt("ops@example.com", "503 5.5.1 need MAIL first"), kRset, kQuit},
       Outcome::kPermanent, "MAIL FROM:<alerts@example.com>: 553 5.7.1 sender rejected"},
      // Addresses refused before they reach the server: no recipient before
      // any connection (nor a logon), a sender's local part beyond ASCII
      // once the EHLO reply shows no SMTPUTF8.
      {"a recipient refused is named by its address, not its notice request",
       {.to = {"ops@example.com", "b@example.com"}, .notify = "FAILURE"},
       {kGreeting, Ehlo("DSN"), {"MAIL FROM:<alerts@example.com> RET=HDRS\r\n", "250 ok\r\n"},
        Rcpt("ops@example.com"), Rcpt("b@example.com", "550 5.1.1 user unknown"), kRset, kQuit},
       Outcome::kPermanent, "RCPT TO:<b@example.com>: 550 5.1.1 user unknown"},
      {"no recipient at all", {.to = {"", " "}, .user = "tim", .password = kPassword, .tls = TlsMode::kOff}, {},
       Outcome::kBadAddress, "no recipient given"},
      {"a sender beyond ASCII", {.from = "j\xc3\xb6rg@example.com"}, {kGreeting, Ehlo("8BITMIME"), kQuit},
       Outcome::kBadAddress,
       "the sender address \"j\xc3\xb6rg@example.com\" cannot be used (the server mail.example.com offers no "
       "SMTPUTF8 for a local part beyond ASCII)"},
      {"an old server greeted with HELO, and without SIZE or BODY", {},
       {kGreeting, {"EHLO ", "500 what?\r\n"}, {"HELO ", "250 hi\r\n"},
        {"MAIL FROM:<alerts@example.com>\r\n", "250 ok\r\n"}, Rcpt("ops@example.com"), kData, kAccepted, kQuit},
       Outcome::kSent, ""},
      // TLS
      {"TLS=off logs on in the clear", kTimInClear,
       Script({logon("STARTTLS,AUTH PLAIN", {{"AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm", "235 ok\r\n"}}), kDelivery}),
       Outcome::kSent, ""},
      {"clear text after the 220 to STARTTLS", {},
       {kGreeting, Ehlo("STARTTLS"), {"STARTTLS", "220 go ahead\r\n250-injected\r\n"}}, Outcome::kPermanent,
       "STARTTLS: the server sent data before the TLS handshake"},
      {"a certificate that does not hold, and no second try for the logon",
       {.user = "tim", .password = kPassword, .handshake_fails = true}, kSecured, Outcome::kPermanent,
       "STARTTLS: the certificate of the server is not issued for mail.example.com"},
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
      Refused("CRAM-MD5 inside TLS when alone", true, "AUTH CRAM-MD5", "CRAM-MD5"),
      {"a logon refused, then the connection closed", kTimInClear,
       logon("AUTH PLAIN,PIPELINING", {{"AUTH PLAIN", "535 5.7.8 bad credentials\r\n"}, {"QUIT", ""}}),
       Outcome::kPermanent, "AUTH PLAIN: 535 5.7.8 bad credentials", true},
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
  const test_support::ScratchDir scratch("smtp");
  const std::string path = scratch / "changing_body";
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
  EXPECT_EQ(server.commands.back(), "DATA") << "no end of data sent";
}

}  // namespace
