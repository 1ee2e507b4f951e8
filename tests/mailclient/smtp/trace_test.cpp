// The protocol trace: every command and reply line as it went over the
// wire, the client's side of any logon redacted whatever the mechanism, the
// message's header shown and its body only counted; and a whole dialogue
// with each password mechanism, byte for byte, in which the password
// appears in no form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailclient/smtp/csmtp.h"
#include "mailclient/mime/encoding.h"
#include "mailclient/smtp/scripted_server.h"
#include "mailclient/smtp/trace.h"

namespace {

using mailclient::Base64;
using scripted::Script;
using scripted::Step;

// The trace's lines, in order.
struct Recorded {
  std::vector<std::string> lines;
  mailclient::TraceSink Sink() {
    return [this](std::string_view line) { lines.emplace_back(line); };
  }
};

// What the client sends ("C") and what the server answers ("S", one reply
// line each) in the order they pass.
struct Pass {
  char side;
  std::string bytes;
};

std::vector<std::string> Traced(const std::vector<Pass>& passes) {
  Recorded recorded;
  mailclient::ProtocolTrace trace(recorded.Sink());
  for (const Pass& p : passes) {
    if (p.side == 'C') {
      trace.Sent(p.bytes);
    } else if (p.side == 'S') {
      trace.Received(p.bytes);
    } else {
      trace.Broken(p.bytes);
    }
  }
  return recorded.lines;
}

TEST(ProtocolTrace, RedactsEverythingTheClientSendsInALogonWhateverTheMechanism) {
  struct Case {
    const char* name;
    std::vector<Pass> passes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"an initial response, and the commands after the logon shown again",
       {{'C', "AUTH PLAIN AHRpbQBzZWNyZXQ=\r\n"}, {'S', "235 2.7.0 ok"}, {'C', "MAIL FROM:<a@b.example>\r\n"}},
       {"C: AUTH PLAIN <redacted>", "S: 235 2.7.0 ok", "C: MAIL FROM:<a@b.example>"}},
      {"a mechanism the trace has never heard of, over several challenges",
       {{'C', "auth X-NEW-THING\r\n"}, {'S', "334 Zmlyc3Q="}, {'C', "c2VjcmV0\r\n"}, {'S', "334 c2Vjb25k"},
        {'C', "bW9yZSBzZWNyZXQ=\r\n"}, {'S', "535-5.7.8 no"}, {'S', "535 5.7.8 really not"}, {'C', "QUIT\r\n"}},
       {"C: auth X-NEW-THING", "S: 334 Zmlyc3Q=", "C: <redacted>", "S: 334 c2Vjb25k", "C: <redacted>",
        "S: 535-5.7.8 no", "S: 535 5.7.8 really not", "C: QUIT"}},
      {"XOAUTH2's error challenge and the empty line that answers it",
       {{'C', "AUTH XOAUTH2 dXNlcj1hAWF1dGg9QmVhcmVyIHRva2VuAQE=\r\n"}, {'S', "334 eyJzdGF0dXMiOiI0MDEifQ=="},
        {'C', "\r\n"}, {'S', "535 5.7.8 token refused"}},
       {"C: AUTH XOAUTH2 <redacted>", "S: 334 eyJzdGF0dXMiOiI0MDEifQ==", "C: <redacted>",
        "S: 535 5.7.8 token refused"}},
      {"a command written in pieces is redacted whole",
       {{'C', "AUTH LOGIN"}, {'C', "\r\n"}, {'S', "334 VXNlcm5hbWU6"}, {'C', "dG"}, {'C', "lt\r\n"},
        {'S', "334 UGFzc3dvcmQ6"}, {'C', "c2VjcmV0\r\n"}, {'S', "235 ok"}},
       {"C: AUTH LOGIN", "S: 334 VXNlcm5hbWU6", "C: <redacted>", "S: 334 UGFzc3dvcmQ6", "C: <redacted>",
        "S: 235 ok"}},
      {"a connection lost in the logon ends it",
       {{'C', "AUTH LOGIN\r\n"}, {'S', "334 VXNlcm5hbWU6"}, {'X', "the server closed the connection"},
        {'C', "QUIT\r\n"}},
       {"C: AUTH LOGIN", "S: 334 VXNlcm5hbWU6", "error: the server closed the connection", "C: QUIT"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Traced(c.passes), c.lines) << c.name;
}

TEST(ProtocolTrace, ShowsTheHeaderOfTheMessageAndOnlyCountsItsBody) {
  // The body: "secret one", "..dot", "" and two control bytes, each with
  // CR LF: 25 bytes in 4 lines.
  const std::string message =
      "From: a@b.example\r\nSubject: =?utf-8?Q?f=C3=BCr?=\r\n\r\nsecret one\r\n..dot\r\n\r\n\x01\x02\r\n.\r\n";
  const std::vector<std::string> expected = {
      "C: DATA", "S: 354 go ahead", "C: From: a@b.example", "C: Subject: =?utf-8?Q?f=C3=BCr?=",
      "body: 25 bytes, 4 lines", "C: .", "S: 250 queued"};
  // In one write, and cut in two at every place (the final "." among them).
  EXPECT_EQ(Traced({{'C', "DATA\r\n"}, {'S', "354 go ahead"}, {'C', message}, {'S', "250 queued"}}), expected);
  for (std::size_t cut = 1; cut < message.size(); ++cut) {
    EXPECT_EQ(Traced({{'C', "DATA\r\n"}, {'S', "354 go ahead"}, {'C', message.substr(0, cut)},
                      {'C', message.substr(cut)}, {'S', "250 queued"}}),
              expected)
        << "cut at " << cut;
  }
  EXPECT_EQ(Traced({{'C', "DATA\r\n"}, {'S', "354 go ahead"}, {'C', message + "QUIT\r\n"}}).back(), "C: QUIT")
      << "a command sent with the end of the message";
  EXPECT_EQ(Traced({{'C', "DATA\r\n"}, {'S', "554 no valid recipients"}, {'C', "QUIT\r\n"}}),
            (std::vector<std::string>{"C: DATA", "S: 554 no valid recipients", "C: QUIT"}))
      << "no message follows a refused DATA";
  EXPECT_EQ(Traced({{'S', "250 a\x1b[31mred\x7f"}}), std::vector<std::string>{"S: 250 a.[31mred."})
      << "control bytes as dots";
}

// The password in the forms a trace could give it away in: as it is, in
// base64 at each of the three alignments (the characters that depend on
// the bytes around it left out), and in hexadecimal.
std::vector<std::string> Disguises(const std::string& password) {
  std::vector<std::string> forms{password};
  for (std::size_t pad = 0; pad < 3; ++pad) {
    const std::string encoded = Base64(std::string(pad, 'x') + password + std::string(3, 'x'));
    const std::size_t from = (pad * 4 + 2) / 3;  // the first character of the password alone
    const std::size_t to = ((pad + password.size()) * 4) / 3;
    forms.push_back(encoded.substr(from, to - from));
  }
  std::string lower;
  std::string upper;
  for (unsigned char c : password) {
    static const char kDigits[] = "0123456789abcdef0123456789ABCDEF";
    lower += {kDigits[c >> 4], kDigits[c & 15]};
    upper += {kDigits[16 + (c >> 4)], kDigits[16 + (c & 15)]};
  }
  forms.push_back(lower);
  forms.push_back(upper);
  return forms;
}

TEST(CSmtpTrace, ADialogueWithEachPasswordMechanismIsTracedLineByLineWithoutThePassword) {
  const std::string password = "tanstaaftanstaaf";
  struct Case {
    std::string offered;
    std::vector<Step> exchange;
    std::vector<std::string> logon;  // its lines in the trace
  };
  const Case cases[] = {
      {"CRAM-MD5",
       {{"AUTH CRAM-MD5", "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n"},
        {"dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw", "235 ok\r\n"}},
       {"C: AUTH CRAM-MD5", "S: 334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+", "C: <redacted>",
        "S: 235 ok"}},
      {"PLAIN", {{"AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm", "235 ok\r\n"}}, {"C: AUTH PLAIN <redacted>", "S: 235 ok"}},
      {"LOGIN",
       {{"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"}, {"dGlt", "334 UGFzc3dvcmQ6\r\n"},
        {"dGFuc3RhYWZ0YW5zdGFhZg==", "235 ok\r\n"}},
       {"C: AUTH LOGIN", "S: 334 VXNlcm5hbWU6", "C: <redacted>", "S: 334 UGFzc3dvcmQ6", "C: <redacted>",
        "S: 235 ok"}},
  };
  for (const Case& c : cases) {
    scripted::Server server(Script({scripted::kSecured, {scripted::Ehlo("AUTH " + c.offered)}, c.exchange,
                                    {scripted::kMail, scripted::Rcpt("nobody@example.com", "550 5.1.1 no such user"),
                                     {"RSET", "250 ok\r\n"}, scripted::kQuit}}));
    Recorded recorded;
    const scripted::Result r = scripted::Deliver(
        server, {.to = {"nobody@example.com"}, .user = "tim", .password = password, .trace = recorded.Sink()});
    EXPECT_EQ(r.error, "RCPT TO:<nobody@example.com>: 550 5.1.1 no such user") << c.offered;
    EXPECT_EQ(server.Unplayed(), 0u) << c.offered;

    std::vector<std::string> expected{"S: 220 mail.example.com ESMTP", "C: EHLO *",   "S: 250-mail.example.com",
                                      "S: 250-STARTTLS", "S: 250 HELP", "C: STARTTLS", "S: 220 go ahead",
                                      "C: EHLO *", "S: 250-mail.example.com", "S: 250-AUTH " + c.offered,
                                      "S: 250 HELP"};
    expected.insert(expected.end(), c.logon.begin(), c.logon.end());
    expected.insert(expected.end(), {"C: MAIL FROM:<alerts@example.com>", "S: 250 ok",
                                     "C: RCPT TO:<nobody@example.com>", "S: 550 5.1.1 no such user", "C: RSET",
                                     "S: 250 ok", "C: QUIT", "S: 221 bye"});
    std::vector<std::string> lines = recorded.lines;
    for (std::string& line : lines) {
      if (line.rfind("C: EHLO ", 0) == 0) line = "C: EHLO *";  // the machine's own name
    }
    EXPECT_EQ(lines, expected) << c.offered;
    for (const std::string& line : recorded.lines) {
      for (const std::string& form : Disguises(password)) {
        EXPECT_EQ(line.find(form), std::string::npos) << c.offered << ": " << form << " in " << line;
      }
    }
  }
}

}  // namespace
