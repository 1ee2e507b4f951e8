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
using scripted::kMessage;
using scripted::Step;

namespace {

const Step kGreeting{"", "220 mail.example.com ESMTP\r\n"};
const Step kData{"DATA", "354 go ahead\r\n"};
const Step kAccepted{kMessage, "250 2.0.0 queued\r\n"};
const Step kQuit{"QUIT", "221 bye\r\n"};
const Step kMail{"MAIL FROM:<alerts@example.com>", "250 ok\r\n"};

Step Ehlo(const std::string& extensions) {
  std::string reply = "250-mail.example.com\r\n";
  std::size_t start = 0;
  while (start < extensions.size()) {
    const std::size_t comma = std::min(extensions.find(',', start), extensions.size());
    reply += "250-" + extensions.substr(start, comma - start) + "\r\n";
    start = comma + 1;
  }
  reply += "250 HELP\r\n";
  return {"EHLO ", reply};
}

Step Rcpt(const std::string& address, const std::string& reply = "250 ok") {
  return {"RCPT TO:<" + address + ">", reply + "\r\n"};
}

std::vector<Step> Script(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct Settings {
  std::string from{"alerts@example.com"};
  std::vector<std::string> to{"ops@example.com"};
  std::string user{};
  std::string password{};
  TlsMode tls = TlsMode::kAuto;
  int port = 25;
  int timeout_seconds = 60;
  bool handshake_fails = false;
  std::string body = "disk full on db1\n";
};

struct Result {
  bool sent = false;
  Outcome outcome = Outcome::kTemporary;
  std::string error;
};

// One run of the command's sequence: Logon when a user is set, then the
// delivery.
Result Deliver(scripted::Server& server, const Settings& s = {}) {
  mailclient::CEmail mail;
  mail.FromAddress(s.from);
  mail.DestList(s.to);
  mail.Subject("report");
  mail.MailBody(s.body);
  mailclient::CSmtp smtp(mail, "mail.example.com", s.port);
  smtp.UseTransport(server.Transport(s.handshake_fails));
  smtp.Tls(s.tls);
  smtp.TimeoutSeconds(s.timeout_seconds);
  if (!s.user.empty()) {
    smtp.UserName(s.user);
    smtp.PassWord(s.password);
    smtp.SecureSMTP(true);
    smtp.Logon();
  }
  Result r;
  r.sent = smtp.Postrine();
  r.outcome = smtp.Result();
  r.error = smtp.ErrorMsg();
  return r;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(CSmtpEnvelope, GoesInOneWriteWhenTheServerPipelinesAndCommandByCommandOtherwise) {
  for (const bool pipelining : {true, false}) {
    scripted::Server server(Script({{kGreeting, Ehlo(pipelining ? "PIPELINING" : "8BITMIME"), kMail},
                                    {Rcpt("a@example.com"), Rcpt("b@example.com"), kData, kAccepted, kQuit}}));
    const Result r = Deliver(server, {.to = {"a@example.com", " b@example.com", ""}});
    ASSERT_TRUE(r.sent) << r.error;
    EXPECT_EQ(server.Unplayed(), 0u);
    const std::string envelope =
        "MAIL FROM:<alerts@example.com>\r\nRCPT TO:<a@example.com>\r\nRCPT TO:<b@example.com>\r\n";
    const bool one_write = std::any_of(server.writes.begin(), server.writes.end(),
                                       [&](const scripted::Write& w) { return w.bytes == envelope; });
    EXPECT_EQ(one_write, pipelining);
    EXPECT_EQ(server.commands.back(), "QUIT");
  }
}

TEST(CSmtpEnvelope, OneRefusedRecipientSendsNothingToAnyone) {
  struct Case {
    std::string reply;
    Outcome outcome;
  };
  for (const Case& c : {Case{"550 5.1.1 user unknown", Outcome::kPermanent},
                        Case{"450 4.2.1 mailbox busy", Outcome::kTemporary}}) {
    scripted::Server server(Script({{kGreeting, Ehlo("PIPELINING"), kMail, Rcpt("a@example.com")},
                                    {Rcpt("b@example.com", c.reply), {"RSET", "250 ok\r\n"}, kQuit}}));
    const Result r = Deliver(server, {.to = {"a@example.com", "b@example.com"}});
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.error, "RCPT TO:<b@example.com>: " + c.reply);
    EXPECT_FALSE(Contains(server.commands, "DATA"));
    EXPECT_EQ(server.Unplayed(), 0u) << "RSET and QUIT follow the refusal";
  }
}

TEST(CSmtpEnvelope, ARefusedSenderIsNamedAloneThoughTheRecipientsAreRefusedWithIt) {
  scripted::Server server(Script({{kGreeting, Ehlo("PIPELINING")},
                                  {{"MAIL FROM:", "553 5.7.1 sender rejected\r\n"},
                                   Rcpt("ops@example.com", "503 5.5.1 need MAIL first"),
                                   {"RSET", "250 ok\r\n"},
                                   kQuit}}));
  const Result r = Deliver(server);
  EXPECT_EQ(r.outcome, Outcome::kPermanent);
  EXPECT_EQ(r.error, "MAIL FROM:<alerts@example.com>: 553 5.7.1 sender rejected");
}

TEST(CSmtpGreeting, AnOldServerIsGreetedWithHeloAndARefusalIsQuoted) {
  scripted::Server helo_server({kGreeting, {"EHLO ", "500 what?\r\n"}, {"HELO ", "250 hi\r\n"}, kMail,
                                Rcpt("ops@example.com"), kData, kAccepted, kQuit});
  Result r = Deliver(helo_server);
  EXPECT_TRUE(r.sent) << r.error;
  EXPECT_EQ(helo_server.commands[2], "MAIL FROM:<alerts@example.com>") << "no SIZE or BODY without EHLO";

  scripted::Server refusing({{"", "554 5.3.2 no service\r\n"}, kQuit});
  r = Deliver(refusing);
  EXPECT_EQ(r.outcome, Outcome::kPermanent);
  EXPECT_EQ(r.error, "greeting: 554 5.3.2 no service");
  EXPECT_EQ(refusing.commands, std::vector<std::string>{"QUIT"});
}

TEST(CSmtpSize, AnnouncesTheExactSizeAndStopsBeforeMailWhenItIsTooLarge) {
  scripted::Server server({kGreeting, Ehlo("SIZE 100000"), kMail, Rcpt("ops@example.com"), kData, kAccepted, kQuit});
  ASSERT_TRUE(Deliver(server).sent);
  const std::string& mail = server.commands[1];
  const std::string announced = mail.substr(mail.find(" SIZE=") + 6);
  EXPECT_EQ(std::stoul(announced), server.message.size() - 3) << "the message without its final \".\" line";

  scripted::Server small({kGreeting, Ehlo("SIZE 100"), kQuit});
  const Result r = Deliver(small);
  EXPECT_EQ(r.outcome, Outcome::kPermanent);
  EXPECT_NE(r.error.find("is larger than the server accepts (100 bytes)"), std::string::npos) << r.error;
  EXPECT_EQ(small.commands.back(), "QUIT");
  EXPECT_EQ(small.Unplayed(), 0u);
}

// RFC 4616, RFC 4954 and RFC 2195's own example for CRAM-MD5.
TEST(CSmtpLogon, SendsTheExactAnswersOfEachMechanismUnderTls) {
  struct Case {
    std::string offered;
    std::vector<Step> exchange;
  };
  const Case cases[] = {
      {"AUTH CRAM-MD5",
       {{"AUTH CRAM-MD5", "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n"},
        {"dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw", "235 ok\r\n"}}},
      {"AUTH LOGIN PLAIN", {{"AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm", "235 ok\r\n"}}},
      {"AUTH=LOGIN",
       {{"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
        {"dGlt", "334 UGFzc3dvcmQ6\r\n"},
        {"dGFuc3RhYWZ0YW5zdGFhZg==", "235 ok\r\n"}}},
  };
  for (const Case& c : cases) {
    scripted::Server server(Script({{kGreeting, Ehlo("STARTTLS"), {"STARTTLS", "220 go ahead\r\n"},
                                     Ehlo(c.offered)},
                                    c.exchange,
                                    {kMail, Rcpt("ops@example.com"), kData, kAccepted, kQuit}}));
    const Result r = Deliver(server, {.user = "tim", .password = "tanstaaftanstaaf"});
    EXPECT_TRUE(r.sent) << c.offered << ": " << r.error;
    EXPECT_EQ(server.Unplayed(), 0u) << c.offered;
    for (const scripted::Write& w : server.writes) {
      if (w.bytes.find("AUTH") != std::string::npos) {
        EXPECT_TRUE(w.tls) << c.offered;
      }
    }
  }
}

// Inside TLS the mechanism every server can check (a server that keeps
// hashed passwords offers CRAM-MD5 all the same, and refuses it); in clear
// the one that keeps the password off the line. Each refusal ends the
// send: QUIT, and never MAIL.
TEST(CSmtpLogon, TakesTheMechanismTheLineCallsForAndARefusalSendsNothing) {
  struct Case {
    std::string offered;
    std::string inside_tls;
    std::string in_clear;
  };
  const Case cases[] = {
      {"AUTH LOGIN PLAIN CRAM-MD5", "PLAIN", "CRAM-MD5"},
      {"AUTH CRAM-MD5 LOGIN", "LOGIN", "CRAM-MD5"},
      {"AUTH LOGIN PLAIN", "PLAIN", "PLAIN"},
      {"AUTH=LOGIN", "LOGIN", "LOGIN"},
      {"AUTH CRAM-MD5", "CRAM-MD5", "CRAM-MD5"},
  };
  for (const Case& c : cases) {
    for (const bool tls : {true, false}) {
      const std::string mechanism = tls ? c.inside_tls : c.in_clear;
      const std::string name = c.offered + (tls ? " inside TLS" : " in clear");
      const std::vector<Step> start =
          tls ? std::vector<Step>{kGreeting, Ehlo("STARTTLS"), {"STARTTLS", "220 go ahead\r\n"}, Ehlo(c.offered)}
              : std::vector<Step>{kGreeting, Ehlo(c.offered)};
      scripted::Server server(
          Script({start, {{"AUTH " + mechanism, "535 5.7.8 authentication failed\r\n"}, kQuit}}));
      const Result r = Deliver(server, {.user = "tim", .password = "secret", .tls = tls ? TlsMode::kAuto : TlsMode::kOff});
      EXPECT_FALSE(r.sent) << name;
      EXPECT_EQ(r.outcome, Outcome::kPermanent) << name;
      EXPECT_EQ(r.error, "AUTH " + mechanism + ": 535 5.7.8 authentication failed") << name;
      EXPECT_EQ(server.Unplayed(), 0u) << name << ": " << server.commands.back();
    }
  }
}

// Whatever the server does after its refusal, the refusal decides.
TEST(CSmtpLogon, ARefusalDecidesTheOutcomeAndNoMailFollowsIt) {
  struct Case {
    const char* name;
    std::vector<Step> exchange;
    bool hangs_up;
    Outcome outcome;
    std::string error;
  };
  const Case cases[] = {
      {"refused for now", {{"AUTH PLAIN", "454 4.7.0 try again later\r\n"}, kQuit}, false, Outcome::kTemporary,
       "AUTH PLAIN: 454 4.7.0 try again later"},
      {"refused, then the connection closed", {{"AUTH PLAIN", "535 5.7.8 bad credentials\r\n"}}, true,
       Outcome::kPermanent, "AUTH PLAIN: 535 5.7.8 bad credentials"},
      {"a command line too long, then closed", {{"AUTH PLAIN", "500 5.0.0 Command line too long\r\n"}}, true,
       Outcome::kPermanent, "AUTH PLAIN: 500 5.0.0 Command line too long"},
      {"a challenge that cannot be answered is cancelled",
       {{"AUTH PLAIN", "334 bW9yZT8=\r\n"}, {"*", "501 5.7.0 cancelled\r\n"}, kQuit}, false, Outcome::kPermanent,
       "AUTH PLAIN: 501 5.7.0 cancelled"},
  };
  for (const Case& c : cases) {
    scripted::Server server(Script({{kGreeting, Ehlo("AUTH PLAIN,PIPELINING")}, c.exchange}));
    server.hangs_up = c.hangs_up;
    const Result r = Deliver(server, {.user = "tim", .password = "secret", .tls = TlsMode::kOff});
    EXPECT_FALSE(r.sent) << c.name;
    EXPECT_EQ(r.outcome, c.outcome) << c.name;
    EXPECT_EQ(r.error, c.error) << c.name;
    EXPECT_EQ(server.Unplayed(), 0u) << c.name;
    EXPECT_FALSE(std::any_of(server.commands.begin(), server.commands.end(),
                             [](const std::string& command) { return command.rfind("MAIL", 0) == 0; }))
        << c.name;
  }
}

TEST(CSmtpTls, SecuresTheLineAsTheSettingsAskAndNeverLogsOnInTheClear) {
  const std::vector<Step> after_tls = {kMail, Rcpt("ops@example.com"), kData, kAccepted, kQuit};
  struct Case {
    const char* name;
    Settings settings;
    std::vector<Step> script;
    bool sent;
    Outcome outcome;
    std::string error;  // the start of ErrorMsg when it fails
  };
  const Case cases[] = {
      {"STARTTLS when offered",
       {},
       Script({{kGreeting, Ehlo("STARTTLS"), {"STARTTLS", "220 go ahead\r\n"}, Ehlo("PIPELINING")}, after_tls}),
       true, Outcome::kSent, ""},
      {"clear text when not offered and nothing to hide", {}, Script({{kGreeting, Ehlo("SIZE 1000")}, after_tls}),
       true, Outcome::kSent, ""},
      {"the password withheld from a server without TLS",
       {.user = "tim", .password = "secret"},
       {kGreeting, Ehlo("AUTH PLAIN"), kQuit},
       false, Outcome::kPermanent,
       "the server mail.example.com offered no TLS, so the password was withheld; set TLS=off"},
      {"TLS=off logs on in the clear",
       {.user = "tim", .password = "secret", .tls = TlsMode::kOff},
       Script({{kGreeting, Ehlo("STARTTLS,AUTH PLAIN"), {"AUTH PLAIN AHRpbQBzZWNyZXQ=", "235 ok\r\n"}}, after_tls}),
       true, Outcome::kSent, ""},
      {"TLS=starttls and none offered", {.tls = TlsMode::kStartTls}, {kGreeting, Ehlo("SIZE 1000"), kQuit}, false,
       Outcome::kPermanent, "the server mail.example.com offers no STARTTLS, and TLS=starttls in postrine.ini"},
      {"STARTTLS refused", {}, {kGreeting, Ehlo("STARTTLS"), {"STARTTLS", "454 4.7.0 TLS not available\r\n"}, kQuit},
       false, Outcome::kTemporary, "STARTTLS: 454 4.7.0 TLS not available"},
      {"clear text after the 220 to STARTTLS",
       {},
       {kGreeting, Ehlo("STARTTLS"), {"STARTTLS", "220 go ahead\r\n250-injected\r\n"}},
       false, Outcome::kPermanent, "STARTTLS: the server sent data before the TLS handshake"},
      {"a certificate that does not hold",
       {.handshake_fails = true},
       {kGreeting, Ehlo("STARTTLS"), {"STARTTLS", "220 go ahead\r\n"}},
       false, Outcome::kPermanent, "STARTTLS: the certificate of the server is not issued for mail.example.com"},
      {"SMTPS on port 465", {.port = 465}, Script({{kGreeting, Ehlo("AUTH PLAIN")}, after_tls}), true,
       Outcome::kSent, ""},
  };
  for (const Case& c : cases) {
    scripted::Server server(c.script);
    const Result r = Deliver(server, c.settings);
    EXPECT_EQ(r.sent, c.sent) << c.name << ": " << r.error;
    EXPECT_EQ(r.outcome, c.outcome) << c.name;
    EXPECT_EQ(r.error.substr(0, c.error.size()), c.error) << c.name;
    EXPECT_EQ(server.Unplayed(), 0u) << c.name;
    for (const scripted::Write& w : server.writes) {
      if (w.bytes.find("AUTH") != std::string::npos) {
        EXPECT_TRUE(w.tls || c.settings.tls == TlsMode::kOff) << c.name;
      }
    }
    if (c.settings.port == 465) {
      EXPECT_TRUE(!server.writes.empty() && server.writes.front().tls) << "TLS from the first byte";
    }
    if (Contains(server.commands, "STARTTLS") && c.sent) {
      EXPECT_EQ(server.tls_commands.front().rfind("EHLO ", 0), 0u) << c.name << ": EHLO again under TLS";
    }
  }
}

TEST(CSmtpReplies, ArriveByteByByteOrSeveralInOnePiece) {
  scripted::Server server({kGreeting, Ehlo("PIPELINING"), {"MAIL FROM:", "250 ok\r\n250 ok\r\n250 ok\r\n"},
                           {"RCPT TO:<a@", ""}, {"RCPT TO:<b@", ""}, kData, kAccepted, kQuit});
  server.piece = 1;
  const Result r = Deliver(server, {.to = {"a@example.com", "b@example.com"}});
  EXPECT_TRUE(r.sent) << r.error;
  EXPECT_EQ(server.Unplayed(), 0u);
}

// The header line of `field` in the message as it went over the wire.
std::string HeaderLine(const std::string& message, const std::string& field) {
  const std::size_t at = message.find("\r\n" + field);
  if (at == std::string::npos) return "";
  return message.substr(at + 2, message.find("\r\n", at + 2) - at - 2);
}

TEST(CSmtpAddresses, TravelInTheFormTheServerTakes) {
  const std::string bucher = "b\xc3\xbc" "cher.example";
  struct Case {
    const char* name;
    std::string extensions;
    std::string from;
    std::vector<std::string> to;
    std::vector<std::string> envelope;  // MAIL and the RCPTs
    std::string from_line;
    std::string to_line;
  };
  const Case cases[] = {
      {"UTF-8 under SMTPUTF8", "8BITMIME,SMTPUTF8", "j\xc3\xb6rg@" + bucher, {"ops@" + bucher},
       {"MAIL FROM:<j\xc3\xb6rg@" + bucher + "> BODY=8BITMIME SMTPUTF8", "RCPT TO:<ops@" + bucher + ">"},
       "From: j\xc3\xb6rg@" + bucher, "To: ops@" + bucher},
      {"ANSI text made UTF-8", "SMTPUTF8", "j\xf6rg@example.com", {"ops@example.com"},
       {"MAIL FROM:<j\xc3\xb6rg@example.com> SMTPUTF8", "RCPT TO:<ops@example.com>"},
       "From: j\xc3\xb6rg@example.com", "To: ops@example.com"},
      {"A-labels without SMTPUTF8", "8BITMIME", "alerts@" + bucher, {"ops@" + bucher},
       {"MAIL FROM:<alerts@xn--bcher-kva.example>", "RCPT TO:<ops@xn--bcher-kva.example>"},
       "From: alerts@xn--bcher-kva.example", "To: ops@xn--bcher-kva.example"},
      {"ASCII asks for no SMTPUTF8", "SMTPUTF8", "alerts@example.com", {"x,y@x.io", "z@x.io"},
       {"MAIL FROM:<alerts@example.com>", "RCPT TO:<\"x,y\"@x.io>", "RCPT TO:<z@x.io>"},
       "From: alerts@example.com", "To: \"x,y\"@x.io, z@x.io"},
      {"quoted strings", "", "a\"b@example.com", {"c\\server@x.io"},
       {"MAIL FROM:<\"a\\\"b\"@example.com>", "RCPT TO:<\"c\\\\server\"@x.io>"},
       "From: \"a\\\"b\"@example.com", "To: \"c\\\\server\"@x.io"},
      {"the postmaster", "", "alerts@example.com", {"Postmaster"},
       {"MAIL FROM:<alerts@example.com>", "RCPT TO:<Postmaster>"}, "From: alerts@example.com", "To: Postmaster:;"},
  };
  for (const Case& c : cases) {
    std::vector<Step> script{kGreeting, Ehlo(c.extensions)};
    for (const std::string& command : c.envelope) script.push_back({command, "250 ok\r\n"});
    script.insert(script.end(), {kData, kAccepted, kQuit});
    scripted::Server server(script);
    const Result r = Deliver(server, {.from = c.from, .to = c.to});
    EXPECT_TRUE(r.sent) << c.name << ": " << r.error;
    ASSERT_GE(server.commands.size(), c.envelope.size() + 1) << c.name;
    for (std::size_t i = 0; i < c.envelope.size(); ++i) EXPECT_EQ(server.commands[i + 1], c.envelope[i]) << c.name;
    EXPECT_EQ(HeaderLine(server.message, "From:"), c.from_line) << c.name;
    EXPECT_EQ(HeaderLine(server.message, "To:"), c.to_line) << c.name;
  }
}

TEST(CSmtpAddresses, ALocalPartBeyondAsciiIsRefusedWhenTheServerHasNoSmtputf8) {
  struct Case {
    std::string from;
    std::vector<std::string> to;
    std::string error;
  };
  const std::string why = " (the server mail.example.com offers no SMTPUTF8 for a local part beyond ASCII)";
  const Case cases[] = {
      {"alerts@example.com", {"ops@example.com", "j\xc3\xb6rg@example.com"},
       "recipient address cannot be used: \"j\xc3\xb6rg@example.com\"" + why},
      {"j\xc3\xb6rg@example.com", {"ops@example.com"},
       "the sender address \"j\xc3\xb6rg@example.com\" cannot be used" + why},
  };
  for (const Case& c : cases) {
    scripted::Server server({kGreeting, Ehlo("8BITMIME,PIPELINING"), kQuit});
    const Result r = Deliver(server, {.from = c.from, .to = c.to});
    EXPECT_EQ(r.outcome, Outcome::kBadAddress);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(server.commands.size(), 2u) << "EHLO, QUIT";
    EXPECT_EQ(server.Unplayed(), 0u);
  }
}

TEST(CSmtpAddresses, ThatAreNoAddressesAreRefusedBeforeAnyConnection) {
  struct Case {
    std::string from;
    std::vector<std::string> to;
    std::string error;
  };
  const Case cases[] = {
      {"alerts@example.com", {"ab", "x.io"},
       "recipient address cannot be used: \"ab\" (no \"@\"), \"x.io\" (no \"@\")"},
      {"alerts@example.com", {"ok@x.io", "a\x1b@x.io"},
       "recipient address cannot be used: \"a.@x.io\" (a control character)"},
      {"alerts", {"ok@x.io"}, "the sender address \"alerts\" cannot be used (no \"@\")"},
      {std::string(8191, 's'), {"ok@x.io"}, "the sender address \"ssss"},
      {"alerts@example.com", {"", " "}, "no recipient given"},
  };
  for (const Case& c : cases) {
    for (const bool logon : {false, true}) {
      scripted::Server server({kGreeting, Ehlo("AUTH PLAIN"), kQuit});
      const Result r = Deliver(server, {.from = c.from, .to = c.to, .user = logon ? "tim" : "", .password = "pw",
                                        .tls = TlsMode::kOff});
      EXPECT_EQ(r.outcome, Outcome::kBadAddress);
      EXPECT_EQ(r.error.substr(0, c.error.size()), c.error);
      EXPECT_TRUE(server.waits.empty() && server.writes.empty()) << "no connection";
    }
  }
}

TEST(CSmtpTimeLimits, EveryWaitKeepsTheTimeoutAndTheEndOfTheMessageTenTimesIt) {
  scripted::Server server({kGreeting, Ehlo("PIPELINING"), kMail, Rcpt("ops@example.com"), kData, kAccepted,
                           {"QUIT", ""}});
  const Result r = Deliver(server, {.timeout_seconds = 7});
  EXPECT_TRUE(r.sent) << "a silent QUIT does not undo a delivery";
  int longer = 0;
  for (int wait : server.waits) {
    EXPECT_LE(wait, 70000);
    if (wait > 7000) ++longer;
  }
  EXPECT_EQ(longer, 1) << "only the reply to the end of the message";
}

TEST(CSmtpTimeLimits, ASilentOrVanishingServerIsATemporaryFailureThatSaysSo) {
  scripted::Server silent({kGreeting});
  Result r = Deliver(silent, {.timeout_seconds = 7});
  EXPECT_EQ(r.outcome, Outcome::kTemporary);
  EXPECT_EQ(r.error, "EHLO: the server did not answer: no answer within 7 seconds");

  scripted::Server gone({kGreeting, Ehlo("")});
  gone.hangs_up = true;
  r = Deliver(gone);
  EXPECT_EQ(r.outcome, Outcome::kTemporary);
  EXPECT_EQ(r.error, "MAIL FROM:<alerts@example.com>: the server closed the connection");
}

}  // namespace


TEST(CSmtpData, QuitGoesWithTheEndOfTheMessageWhenTheServerPipelines) {
  for (const bool pipelining : {true, false}) {
    scripted::Server server(
        {kGreeting, Ehlo(pipelining ? "PIPELINING" : "SIZE"), kMail, Rcpt("ops@example.com"), kData, kAccepted, kQuit});
    const Result r = Deliver(server);
    ASSERT_TRUE(r.sent) << r.error;
    EXPECT_EQ(server.Unplayed(), 0u) << "both replies read";
    const std::string& last = server.writes.back().bytes;
    EXPECT_EQ(last.ends_with("\r\n.\r\nQUIT\r\n"), pipelining) << testing::PrintToString(last);
  }
  // A refused message is refused whatever becomes of QUIT.
  scripted::Server refusing({kGreeting, Ehlo("PIPELINING"), kMail, Rcpt("ops@example.com"), kData,
                             {kMessage, "554 5.6.0 rejected\r\n"}, {"QUIT", ""}});
  const Result r = Deliver(refusing);
  EXPECT_EQ(r.outcome, Outcome::kPermanent);
  EXPECT_EQ(r.error, "end of message: 554 5.6.0 rejected");
  EXPECT_EQ(std::count(refusing.commands.begin(), refusing.commands.end(), "QUIT"), 1);
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
  scripted::Server server({kGreeting, Ehlo("PIPELINING"), kMail, Rcpt("ops@example.com"), kData});
  mailclient::CSmtp smtp(mail, "mail.example.com", 25);
  smtp.UseTransport(server.Transport());
  EXPECT_FALSE(smtp.Postrine());
  EXPECT_EQ(smtp.Result(), Outcome::kTemporary);
  EXPECT_EQ(smtp.ErrorMsg(), "DATA: the mail file changed while it was sent");
  EXPECT_TRUE(server.message.empty()) << "no end of data sent";
  EXPECT_EQ(server.commands.back(), "DATA");
}
