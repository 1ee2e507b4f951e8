// The protocol trace: every command and reply line as it went over the
// wire, the client's side of any logon redacted whatever the mechanism, the
// message's header shown and its body only counted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailclient/smtp/trace.h"

namespace {

// What the client sends ("C") and what the server answers ("S", one reply
// line each) in the order they pass.
struct Pass {
  char side;
  std::string bytes;
};

std::vector<std::string> Traced(const std::vector<Pass>& passes) {
  std::vector<std::string> lines;
  mailclient::ProtocolTrace trace([&lines](std::string_view line) { lines.emplace_back(line); });
  for (const Pass& p : passes) {
    if (p.side == 'C') {
      trace.Sent(p.bytes);
    } else if (p.side == 'S') {
      trace.Received(p.bytes);
    } else {
      trace.Broken(p.bytes);
    }
  }
  return lines;
}

TEST(ProtocolTrace, RedactsEverythingTheClientSendsInALogonWhateverTheMechanism) {
  struct Case {
    const char* name;
    std::vector<Pass> passes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"a mechanism the trace has never heard of, over several challenges",
       {{'C', "auth X-NEW-THING\r\n"}, {'S', "334 Zmlyc3Q="}, {'C', "c2VjcmV0\r\n"}, {'S', "334 c2Vjb25k"},
        {'C', "bW9yZSBzZWNyZXQ=\r\n"}, {'S', "535-5.7.8 no"}, {'S', "535 5.7.8 really not"}, {'C', "QUIT\r\n"}},
       {"C: auth X-NEW-THING", "S: 334 Zmlyc3Q=", "C: <redacted>", "S: 334 c2Vjb25k", "C: <redacted>",
        "S: 535-5.7.8 no", "S: 535 5.7.8 really not", "C: QUIT"}},
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

}  // namespace
