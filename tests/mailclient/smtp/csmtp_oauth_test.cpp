// The logon with OAuth bearer tokens against scripted servers: the exact
// OAUTHBEARER and XOAUTH2 messages, the failure challenge answered as each
// mechanism wants, one fresh token after a kept one was refused (on a new
// connection if the server hung up) and none after a fresh one, never a
// password mechanism; and for every mechanism with an initial response,
// the AUTH line's limit.
#include <gtest/gtest.h>

#include <deque>
#include <optional>

#include "mailclient/smtp/csmtp.h"
#include "mailclient/mime/encoding.h"
#include "mailclient/smtp/scripted_server.h"

using mailclient::Base64;
using mailclient::Outcome;
using namespace scripted;

namespace {

constexpr char kToken[] = "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==";

// The client's response before base64, for the user and server of Send.
std::string Response(const std::string& mechanism, const std::string& secret) {
  if (mechanism == "PLAIN") return std::string(1, '\0') + "user@example.com" + '\0' + secret;
  const std::string bearer = "auth=Bearer " + secret + "\x01\x01";
  if (mechanism == "XOAUTH2") return "user=user@example.com\x01" + bearer;
  return "n,a=user@example.com,\x01host=mail.example.com\x01port=587\x01" + bearer;
}

// The AUTH lines for kToken, made independently of the code under test.
const std::string kBearerAuth = "AUTH OAUTHBEARER " + Base64(Response("OAUTHBEARER", kToken));
const std::string kXoauth2Auth = "AUTH XOAUTH2 " + Base64(Response("XOAUTH2", kToken));
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
Result Send(Server& server, ListedTokens* tokens, const std::string& password = "never-sent") {
  return Deliver(server, {.user = "user@example.com", .password = password, .tokens = tokens, .port = 587});
}

TEST(CSmtpBearer, ARefusedKeptTokenIsAnsweredAsTheMechanismWantsAndFetchedAnewOnce) {
  struct Case {
    std::string offered;
    std::string auth;
    std::string challenge;
    std::string dummy;  // the client's answer to the failure challenge
    std::string status;
  };
  const Case cases[] = {{"OAUTHBEARER", kBearerAuth, kBearerChallenge, "AQ==", "invalid_token"},
                        {"XOAUTH2", kXoauth2Auth, kXoauth2Challenge, kEmptyLine, "400"}};
  const std::string refused = "535 5.7.8 token refused\r\n";
  for (const Case& c : cases) {
    // A kept token refused: one fresh one, refused too and given up for
    // good. A token fetched for this run and refused: none fetched again.
    for (const bool fetched : {false, true}) {
      std::vector<Step> logon{{c.auth, c.challenge}, {c.dummy, refused}};
      if (!fetched) logon.insert(logon.end(), {{"AUTH " + c.offered, c.challenge}, {c.dummy, refused}});
      Server server(Script({kSecured, {Offer(c.offered)}, logon, {kQuit}}));
      ListedTokens tokens({kToken, "second-token"}, fetched);
      const Result r = Send(server, &tokens);
      EXPECT_EQ(r.outcome, Outcome::kPermanent);
      EXPECT_EQ(r.error, "AUTH " + c.offered + ": 535 5.7.8 token refused (status " + c.status + ")" +
                             (fetched ? "" : "; a freshly fetched token was refused too"));
      EXPECT_EQ(tokens.fetches, fetched ? 0 : 1) << c.offered;
      EXPECT_EQ(tokens.refusals, fetched ? 1 : 2) << "each refused token dropped from the cache";
      EXPECT_EQ(server.Unplayed(), 0u) << c.offered << fetched;
      EXPECT_FALSE(server.Strayed()) << c.offered << fetched;
      EXPECT_FALSE(Shows(r, kToken)) << c.offered << fetched;
    }
  }
}

TEST(CSmtpBearer, AServerThatHangsUpWithItsRefusalIsCalledAgainUnderTheSameRules) {
  // The scripted line cannot be closed, so the hang-up is a silence: the
  // client then starts over on a new connection, which must offer TLS too,
  // and logs on with the fresh token.
  for (const bool tls_again : {true, false}) {
    const std::vector<Step> again =
        tls_again ? Script({{Ehlo("STARTTLS"), kStartTls, Offer("OAUTHBEARER"),
                             {"AUTH OAUTHBEARER " + Base64(Response("OAUTHBEARER", "second-token")), "235 ok\r\n"}},
                            kDelivery})
                  : std::vector<Step>{Offer("OAUTHBEARER"), kQuit};
    Server server(Script({kSecured, {Offer("OAUTHBEARER")},
                          {{kBearerAuth, "535 5.7.8 token expired\r\n"}, {"AUTH OAUTHBEARER", ""},
                           {kConnect, "220 again\r\n"}},
                          again}));
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

// Which mechanism, and when the run ends before or with its logon.
TEST(CSmtpBearer, PrefersOauthbearerNeverSendsThePasswordAndEndsOnFailuresWithTheirOwnOutcome) {
  struct Case {
    const char* name;
    std::vector<Step> script;
    std::deque<std::string> tokens;
    Outcome outcome;
    std::string error;
  };
  const Case cases[] = {
      {"OAUTHBEARER before XOAUTH2",
       Script({kSecured, {Offer("PLAIN LOGIN XOAUTH2 OAUTHBEARER"), {kBearerAuth, "235 2.7.0 ok\r\n"}}, kDelivery}),
       {kToken}, Outcome::kSent, ""},
      {"no bearer mechanism offered: no password mechanism either",
       Script({kSecured, {Offer("PLAIN LOGIN CRAM-MD5"), kQuit}}), {kToken}, Outcome::kPermanent,
       "logon to mail.example.com failed: the server offers neither OAUTHBEARER nor XOAUTH2 for an OAuth token"},
      {"a 4xx is for now: no fresh token, worth another run",
       Script({kSecured, {Offer("XOAUTH2"), {kXoauth2Auth, "454 4.7.0 try later\r\n"}, kQuit}}), {kToken},
       Outcome::kTemporary, "AUTH XOAUTH2: 454 4.7.0 try later"},
      {"a refusal that is not about the credential keeps the token",
       Script({kSecured,
               {Offer("OAUTHBEARER"), {kBearerAuth, "534 5.7.9 please use a stronger mechanism\r\n"}, kQuit}}),
       {kToken}, Outcome::kPermanent, "AUTH OAUTHBEARER: 534 5.7.9 please use a stronger mechanism"},
  };
  for (const Case& c : cases) {
    Server server(c.script);
    ListedTokens tokens(c.tokens);
    const Result r = Send(server, &tokens);
    EXPECT_EQ(r.sent, c.outcome == Outcome::kSent) << c.name;
    EXPECT_EQ(r.outcome, c.outcome) << c.name;
    EXPECT_EQ(r.error, c.error) << c.name;
    EXPECT_EQ(tokens.refusals + tokens.fetches, 0) << c.name;
    EXPECT_EQ(server.Unplayed(), 0u) << c.name;
    EXPECT_FALSE(server.Strayed()) << c.name;
    EXPECT_FALSE(Wrote(server, "never-sent")) << c.name;
    EXPECT_FALSE(Shows(r, kToken)) << c.name;
  }
}

TEST(CSmtpLogon, AnInitialResponseGoesOnTheAuthLineOnlyWhileTheLineStaysWithin512Octets) {
  for (const std::string mechanism : {"PLAIN", "XOAUTH2", "OAUTHBEARER"}) {
    const std::string command = "AUTH " + mechanism;
    auto octets = [&](const std::string& secret) {
      return (command + " " + Base64(Response(mechanism, secret)) + "\r\n").size();
    };
    // Base64 grows in fours: the longest line within the limit, and the
    // shortest beyond it.
    std::string within;
    while (octets(within + 'x') <= 512) within += 'x';
    for (const std::string& secret : {within, within + 'x'}) {
      const std::string encoded = Base64(Response(mechanism, secret));
      const bool one_line = octets(secret) <= 512;
      const std::vector<Step> logon =
          one_line ? std::vector<Step>{{command + " " + encoded + "\r\n", "235 ok\r\n"}}
                   : std::vector<Step>{{command + "\r\n", "334 \r\n"}, {encoded + "\r\n", "235 ok\r\n"}};
      Server server(Script({kSecured, {Offer(mechanism)}, logon, kDelivery}));
      ListedTokens tokens({secret});
      const Result r = Send(server, mechanism == "PLAIN" ? nullptr : &tokens, secret);
      EXPECT_TRUE(r.sent) << mechanism << " " << octets(secret) << ": " << r.error;
      EXPECT_EQ(server.Unplayed(), 0u) << mechanism << " " << octets(secret);
    }
  }
}

}  // namespace
