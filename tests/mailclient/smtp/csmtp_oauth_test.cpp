// The logon with OAuth bearer tokens against scripted servers: the exact
// OAUTHBEARER and XOAUTH2 messages, the failure challenge answered as each
// mechanism wants, one fresh token after a cached one was refused (on a new
// connection if the server hung up) and none after a fresh one, never a
// password mechanism or a token in the clear; and for every mechanism with
// an initial response, the AUTH line's limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>

#include "mailclient/smtp/csmtp.h"
#include "mailclient/mime/encoding.h"
#include "mailclient/smtp/scripted_server.h"

using mailclient::Outcome;
using scripted::Ehlo;
using scripted::kDelivery;
using scripted::kEmptyLine;
using scripted::kQuit;
using scripted::kSecured;
using scripted::Result;
using scripted::Script;
using scripted::Step;
using scripted::Wrote;

namespace {

constexpr char kToken[] = "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==";
// The messages for kToken and user@example.com at mail.example.com:587,
// made independently of the code under test.
const std::string kBearerAuth =
    "AUTH OAUTHBEARER "
    "bixhPXVzZXJAZXhhbXBsZS5jb20sAWhvc3Q9bWFpbC5leGFtcGxlLmNvbQFwb3J0PTU4NwFhdXRoPUJlYXJlciB2RjlkZnQ0cW1UYzJOdmIz"
    "Umxja0JoYkhSaGRtbHpkR0V1WTI5dENnPT0BAQ==";
const std::string kXoauth2Auth =
    "AUTH XOAUTH2 dXNlcj11c2VyQGV4YW1wbGUuY29tAWF1dGg9QmVhcmVyIHZGOWRmdDRxbVRjMk52YjNSbGNrQmhiSFJoZG1semRHRXVZMjl0"
    "Q2c9PQEB";
// RFC 7628's and Google's failure challenges.
const std::string kBearerChallenge =
    "334 eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIiwic2NvcGUiOiJleGFtcGxlX3Njb3BlIiwib3BlbmlkLWNvbmZpZ3VyYXRpb24iOiJodHRw"
    "czovL2V4YW1wbGUuY29tLy53ZWxsLWtub3duL29wZW5pZC1jb25maWd1cmF0aW9uIn0=\r\n";
const std::string kXoauth2Challenge =
    "334 eyJzdGF0dXMiOiI0MDAiLCJzY2hlbWVzIjoiQmVhcmVyIiwic2NvcGUiOiJodHRwczovL21haWwuZ29vZ2xlLmNvbS8ifQ==\r\n";

// Hands out the tokens of its list, the first again until a fresh one is
// asked for; the first counts as kept from an earlier run unless
// `first_fetched`. Counts what the client asked.
class ListedTokens final : public mailclient::TokenSource {
 public:
  explicit ListedTokens(std::deque<std::string> tokens, bool first_fetched = false)
      : tokens_(std::move(tokens)), first_fetched_(first_fetched) {}
  std::optional<mailclient::Failure> Token(bool fresh, std::string& token, bool& kept) override {
    fetches += fresh ? 1 : 0;
    kept = !fresh && !first_fetched_;
    if (fresh && !tokens_.empty()) tokens_.pop_front();
    if (tokens_.empty()) {
      return mailclient::Failure{Outcome::kPermanent,
                                 "token request to https://login.example.com/token failed: HTTP 401: invalid_client"};
    }
    token = tokens_.front();
    return std::nullopt;
  }
  void Refused() override { ++refusals; }

  int fetches = 0;
  int refusals = 0;

 private:
  std::deque<std::string> tokens_;
  bool first_fetched_;
};

Step Offer(const std::string& auth) { return Ehlo("AUTH " + auth); }

// A run as the command makes it with tokens, or with the password alone:
// as user@example.com to port 587, for which the messages above are made.
Result Send(scripted::Server& server, ListedTokens* tokens, const std::string& password = "never-sent") {
  return scripted::Deliver(server, {.user = "user@example.com", .password = password, .tokens = tokens, .port = 587});
}

TEST(CSmtpBearer, PrefersOauthbearerThenXoauth2AndNeverAPasswordMechanism) {
  struct Case {
    std::string offered;
    std::string auth;  // empty: no logon is tried at all
  };
  for (const Case& c : {Case{"PLAIN LOGIN XOAUTH2 OAUTHBEARER", kBearerAuth}, Case{"PLAIN XOAUTH2", kXoauth2Auth},
                        Case{"PLAIN LOGIN CRAM-MD5", ""}}) {
    std::vector<Step> logon;
    if (!c.auth.empty()) logon = {{c.auth, "235 2.7.0 ok\r\n"}};
    scripted::Server server(
        Script({kSecured, {Offer(c.offered)}, logon, c.auth.empty() ? std::vector<Step>{kQuit} : kDelivery}));
    ListedTokens tokens({kToken});
    const Result r = Send(server, &tokens);
    EXPECT_EQ(server.Unplayed(), 0u) << c.offered;
    EXPECT_FALSE(Wrote(server, "never-sent")) << c.offered;
    if (c.auth.empty()) {
      EXPECT_FALSE(r.sent);
      EXPECT_EQ(r.outcome, Outcome::kPermanent);
      EXPECT_NE(r.error.find("offers neither OAUTHBEARER nor XOAUTH2"), std::string::npos) << r.error;
      EXPECT_FALSE(Wrote(server, "AUTH"));
    } else {
      EXPECT_TRUE(r.sent) << c.offered << ": " << r.error;
    }
  }
}

TEST(CSmtpBearer, ARefusedCachedTokenIsAnsweredAsTheMechanismWantsAndFetchedAnewOnce) {
  struct Case {
    std::string offered;
    std::string auth;
    std::string challenge;
    std::string dummy;  // the client's answer to the failure challenge
    std::string status;
  };
  const Case cases[] = {{"OAUTHBEARER", kBearerAuth, kBearerChallenge, "AQ==", "invalid_token"},
                        {"XOAUTH2", kXoauth2Auth, kXoauth2Challenge, kEmptyLine, "400"}};
  for (const Case& c : cases) {
    const std::string refused = "535 5.7.8 token refused\r\n";
    // Taken the second time.
    scripted::Server renewed(Script({kSecured, {Offer(c.offered)},
                                     {{c.auth, c.challenge}, {c.dummy, refused}, {"AUTH " + c.offered, "235 ok\r\n"}},
                                     kDelivery}));
    ListedTokens two({kToken, "second-token"});
    Result r = Send(renewed, &two);
    EXPECT_TRUE(r.sent) << c.offered << ": " << r.error;
    EXPECT_EQ(two.refusals, 1);
    EXPECT_EQ(two.fetches, 1);
    EXPECT_EQ(renewed.Unplayed(), 0u);

    // Refused twice: given up for good, the server's words and status quoted.
    scripted::Server refusing(Script({kSecured, {Offer(c.offered)},
                                      {{c.auth, c.challenge}, {c.dummy, refused}, {"AUTH " + c.offered, c.challenge},
                                       {c.dummy, refused}, kQuit}}));
    ListedTokens again({kToken, "second-token"});
    r = Send(refusing, &again);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(r.outcome, Outcome::kPermanent);
    EXPECT_EQ(r.error, "AUTH " + c.offered + ": 535 5.7.8 token refused (status " + c.status +
                           "); a freshly fetched token was refused too");
    EXPECT_EQ(again.refusals, 2);
    EXPECT_EQ(refusing.Unplayed(), 0u);

    // A token fetched for this run and refused: not fetched again.
    scripted::Server once(Script({kSecured, {Offer(c.offered)},
                                  {{c.auth, c.challenge}, {c.dummy, refused}, kQuit}}));
    ListedTokens fetched({kToken, "second-token"}, true);
    r = Send(once, &fetched);
    EXPECT_EQ(r.outcome, Outcome::kPermanent);
    EXPECT_EQ(r.error, "AUTH " + c.offered + ": 535 5.7.8 token refused (status " + c.status + ")");
    EXPECT_EQ(fetched.fetches, 0);
    EXPECT_EQ(fetched.refusals, 1) << "dropped from the cache all the same";
    EXPECT_EQ(once.Unplayed(), 0u);
  }
}

TEST(CSmtpBearer, AServerThatHangsUpWithItsRefusalIsCalledAgainUnderTheSameRules) {
  // The scripted line cannot be closed, so the hang-up is a silence: the
  // client then starts over on a new connection, which must offer TLS too.
  for (const bool tls_again : {true, false}) {
    const std::vector<Step> again = tls_again ? std::vector<Step>{Ehlo("STARTTLS"), scripted::kStartTls,
                                                                  Offer("OAUTHBEARER"), {"AUTH OAUTHBEARER", "235 ok\r\n"}}
                                              : std::vector<Step>{Offer("OAUTHBEARER"), kQuit};
    scripted::Server server(Script({kSecured, {Offer("OAUTHBEARER")},
                                    {{kBearerAuth, "535 5.7.8 token expired\r\n"}, {"AUTH OAUTHBEARER", ""},
                                     {scripted::kConnect, "220 again\r\n"}},
                                    again, tls_again ? kDelivery : std::vector<Step>{}}));
    ListedTokens tokens({kToken, "second-token"});
    const Result r = Send(server, &tokens);
    EXPECT_EQ(r.sent, tls_again) << r.error;
    EXPECT_EQ(server.Unplayed(), 0u) << tls_again;
    EXPECT_EQ(server.connections, 2);
    if (!tls_again) {
      EXPECT_NE(r.error.find("offered no TLS, so the access token was withheld"), std::string::npos) << r.error;
    }
  }
}

TEST(CSmtpBearer, FailuresOfTheTokenSourceOrForNowEndTheRunWithTheirOwnOutcome) {
  struct Case {
    const char* name;
    std::vector<Step> script;
    std::deque<std::string> tokens;
    Outcome outcome;
    std::string error;
  };
  const Case cases[] = {
      {"the token source fails: its words, no AUTH sent",
       Script({kSecured, {Offer("OAUTHBEARER"), kQuit}}), {}, Outcome::kPermanent,
       "token request to https://login.example.com/token failed: HTTP 401: invalid_client"},
      {"a 4xx is for now: no fresh token, worth another run",
       Script({kSecured, {Offer("XOAUTH2"), {kXoauth2Auth, "454 4.7.0 try later\r\n"}, kQuit}}), {kToken},
       Outcome::kTemporary, "AUTH XOAUTH2: 454 4.7.0 try later"},
      {"a refusal that is not about the credential keeps the token",
       Script({kSecured,
               {Offer("OAUTHBEARER"), {kBearerAuth, "534 5.7.9 please use a stronger mechanism\r\n"}, kQuit}}),
       {kToken}, Outcome::kPermanent, "AUTH OAUTHBEARER: 534 5.7.9 please use a stronger mechanism"},
      {"no token crosses a line without TLS", {scripted::kGreeting, Offer("OAUTHBEARER"), kQuit}, {kToken},
       Outcome::kPermanent,
       "the server mail.example.com offered no TLS, so the access token was withheld; set TLS=off in postrine.ini "
       "to log on without encryption"},
  };
  for (const Case& c : cases) {
    scripted::Server server(c.script);
    ListedTokens tokens(c.tokens);
    const Result r = Send(server, &tokens);
    EXPECT_EQ(r.outcome, c.outcome) << c.name;
    EXPECT_EQ(r.error, c.error) << c.name;
    EXPECT_EQ(tokens.refusals + tokens.fetches, 0) << c.name;
    EXPECT_EQ(server.Unplayed(), 0u) << c.name;
    if (c.error.rfind("AUTH", 0) != 0) {
      EXPECT_FALSE(Wrote(server, "AUTH")) << c.name;
    }
  }
}

TEST(CSmtpLogon, AnInitialResponseGoesOnTheAuthLineOnlyWhileTheLineStaysWithin512Octets) {
  // Base64 grows in fours, so each mechanism's line takes every fourth
  // length only: the longest within the limit and the shortest beyond it.
  struct Case {
    std::string mechanism;
    std::size_t octets;  // the AUTH line with the response and CR LF
    bool one_line;
  };
  const Case cases[] = {{"PLAIN", 509, true},   {"PLAIN", 513, false},       {"XOAUTH2", 511, true},
                        {"XOAUTH2", 515, false}, {"OAUTHBEARER", 511, true}, {"OAUTHBEARER", 515, false}};
  for (const Case& c : cases) {
    // The client's response before base64, for the user and server of Send.
    auto response = [&](const std::string& secret) -> std::string {
      if (c.mechanism == "PLAIN") return std::string(1, '\0') + "user@example.com" + '\0' + secret;
      const std::string bearer = "auth=Bearer " + secret + "\x01\x01";
      if (c.mechanism == "XOAUTH2") return "user=user@example.com\x01" + bearer;
      return "n,a=user@example.com,\x01host=mail.example.com\x01port=587\x01" + bearer;
    };
    const std::string command = "AUTH " + c.mechanism;
    std::string secret;
    while ((command + " " + mailclient::Base64(response(secret)) + "\r\n").size() < c.octets) secret += 'x';
    const std::string encoded = mailclient::Base64(response(secret));
    ASSERT_EQ((command + " " + encoded + "\r\n").size(), c.octets);

    const std::vector<Step> logon =
        c.one_line ? std::vector<Step>{{command + " " + encoded, "235 ok\r\n"}}
                   : std::vector<Step>{{command, "334 \r\n"}, {encoded, "235 ok\r\n"}};
    scripted::Server server(Script({kSecured, {Offer(c.mechanism)}, logon, kDelivery}));
    ListedTokens tokens({secret});
    const Result r = Send(server, c.mechanism == "PLAIN" ? nullptr : &tokens, secret);
    EXPECT_TRUE(r.sent) << c.mechanism << " " << c.octets << ": " << r.error;
    EXPECT_EQ(server.Unplayed(), 0u) << c.mechanism << " " << c.octets;
    const auto auth = std::find(server.commands.begin(), server.commands.end(), logon[0].expect);
    ASSERT_NE(auth, server.commands.end()) << c.mechanism << " " << c.octets;
    if (!c.one_line) {
      EXPECT_EQ(*std::next(auth), encoded);
    }
  }
}

}  // namespace
