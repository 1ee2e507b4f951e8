// Tokens from the endpoint's answers and from a command, with the
// provider's words in every failure and the right kind of failure, and the
// cache that keeps a token between runs.
#include <gtest/gtest.h>

#include "mailclient/oauth/oauth.h"

using mailclient::CachedToken;
using mailclient::Outcome;

namespace {

constexpr std::int64_t kNow = 1800000000;
constexpr char kSecret[] = "s3cr3t&x";

TEST(OAuthAnswer, GivesTheTokenAndItsExpiryOrTheProvidersWordsAndTheKindOfFailure) {
  struct Case {
    int status;
    std::string body;
    bool ok;
    std::int64_t life;  // for a token; else the outcome below
    Outcome outcome;
    std::string why;  // part of the message
  };
  const Case cases[] = {
      {200, R"({"token_type":"Bearer","expires_in":3599,"access_token":"eyJ0eXAi.x-y_z"})", true, 3599, {}, ""},
      {200, R"({"token_type":"bearer","expires_in":"7200","access_token":"t"})", true, 7200, {}, ""},
      {200, R"({"access_token":"t"})", true, mailclient::kAssumedTokenLife, {}, ""},
      // A lifetime is believed from a second to a day: a negative one is
      // not cached for an hour, nor a huge one for years.
      {200, R"({"expires_in":-5,"access_token":"t"})", true, 1, {}, ""},
      {200, R"({"expires_in":1000000000,"access_token":"t"})", true, 86400, {}, ""},
      {200, R"({"expires_in":1e300,"access_token":"t"})", true, 86400, {}, ""},
      {200, R"({"expires_in":3599.9,"access_token":"t"})", true, 3599, {}, ""},
      {200, R"({"expires_in":"soon","access_token":"t"})", true, mailclient::kAssumedTokenLife, {}, ""},
      {200, R"({"access_token":")" + std::string(20 * 1024, 'x') + "\"}", false, 0, Outcome::kPermanent,
       "but its access_token is longer than 16384 bytes"},
      // What the endpoint says of the secret shows none of it, even where
      // the quote is cut short.
      {401, R"({"error":"s3cr3t&x","error_description":")" + std::string(296, 'd') + R"(s3cr3t&x"})", false, 0,
       Outcome::kPermanent, "HTTP 401 Unauthorized: <redacted>: ddd"},
      {401,
       R"({"error":"invalid_client","error_description":"AADSTS7000215: Invalid client secret provided.\r\nTrace ID: 1"})",
       false, 0, Outcome::kPermanent,
       "failed: HTTP 401 Unauthorized: invalid_client: AADSTS7000215: Invalid client secret provided...Trace ID: 1"},
      {400, R"({"error":"invalid_scope"})", false, 0, Outcome::kPermanent, "HTTP 400 Unauthorized: invalid_scope"},
      {500, "<html>oops</html>", false, 0, Outcome::kTemporary, "HTTP 500 Unauthorized"},
      {503, R"({"error":"temporarily_unavailable"})", false, 0, Outcome::kTemporary, ": temporarily_unavailable"},
      {429, "", false, 0, Outcome::kTemporary, "HTTP 429"},
      {302, "", false, 0, Outcome::kPermanent, "postrine follows no redirect"},
      {200, "not json", false, 0, Outcome::kPermanent, "not a JSON object"},
      {200, R"({"token_type":"mac","access_token":"t"})", false, 0, Outcome::kPermanent, "\"mac\", not Bearer"},
      {200, "{\"access_token\":\"t\\r\\nQUIT\"}", false, 0, Outcome::kPermanent, "no usable access_token"},
      {200, R"({"access_token":""})", false, 0, Outcome::kPermanent, "no usable access_token"},
  };
  for (const Case& c : cases) {
    CachedToken token;
    mailclient::TokenRequestOutcome request{.url = "https://login.example.com/t/token"};
    const auto failure = mailclient::ReadTokenAnswer(c.status, "Unauthorized", c.body, kNow, kSecret, token, request);
    const std::string why = failure ? failure->text : "";
    EXPECT_EQ(!failure, c.ok) << c.body << ": " << why;
    EXPECT_EQ((why + request.error + request.error_description).find("s3cr3t"), std::string::npos) << why;
    EXPECT_EQ(request.http_status, c.status);
    if (!failure) {
      EXPECT_EQ(token.expires_at, kNow + c.life) << c.body;
      continue;
    }
    EXPECT_EQ(failure->kind, c.outcome) << c.body;
    EXPECT_NE(why.find("token request to https://login.example.com/t/token failed: HTTP "), std::string::npos);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
  }
}

TEST(OAuthCommand, TakesTheFirstLineOrSaysWhyNotQuotingTheCommandsErrors) {
  struct Case {
    runtime::CommandResult result;
    bool ok;
    std::string text;  // the token, or part of the message
    Outcome outcome;
  };
  const std::string long_error(500, 'e');
  const std::string too_long = "OAuthTokenCommand printed no usable token (its first line is longer than 16384 bytes)";
  const Case cases[] = {
      {{.started = true, .exit_status = 0, .out = "  ya29.token \r\nsecond line\n"}, true, "ya29.token", {}},
      {{.started = true, .exit_status = 0, .out = "\n\ntoken-on-line-3\n"}, false, "OAuthTokenCommand printed no token", Outcome::kPermanent},
      {{.started = true, .exit_status = 0, .err = "vault: no value\n"}, false, "printed no token: vault: no value", Outcome::kPermanent},
      {{.started = true, .exit_status = 0, .out = "a\x1b[2Jb\n"}, false, "no usable token", Outcome::kPermanent},
      {{.started = true, .exit_status = 2, .err = "error: refresh token expired\nsee docs\n"}, false,
       "OAuthTokenCommand failed with exit status 2: error: refresh token expired see docs", Outcome::kTemporary},
      {{.started = true, .exit_status = 1, .err = long_error}, false, std::string(200, 'e') + "...", Outcome::kTemporary},
      // A token too long to be one, or output cut off before its line
      // ended: never a prefix of it.
      {{.started = true, .exit_status = 0, .out = std::string(20 * 1024, 't') + "\n"}, false, too_long,
       Outcome::kPermanent},
      {{.started = true, .exit_status = 0, .out = std::string(64 * 1024, 't')}, false, too_long, Outcome::kPermanent},
      {{.why = "No such file or directory"}, false,
       "OAuthTokenCommand could not be started: No such file or directory", Outcome::kTemporary},
  };
  for (const Case& c : cases) {
    std::string token;
    const auto failure = mailclient::ReadCommandToken(c.result, 3000, kSecret, token);
    ASSERT_EQ(!failure, c.ok) << c.text << ": " << (failure ? failure->text : token);
    if (!failure) {
      EXPECT_EQ(token, c.text);
      continue;
    }
    EXPECT_EQ(failure->text.find("s3cr3t"), std::string::npos) << failure->text;
    EXPECT_NE(failure->text.find(c.text), std::string::npos) << failure->text;
    EXPECT_EQ(failure->kind, c.outcome) << failure->text;
  }
}

TEST(OAuthCache, KeepsATokenForItsConfigurationUntilFiveMinutesBeforeItExpires) {
  mailclient::OAuthSettings a{.token_url = "https://login.example.com/t/token", .client_id = "client",
                              .client_secret = "secret-one", .scope = "scope"};
  mailclient::OAuthSettings b = a;
  b.client_secret = "secret-two";
  EXPECT_EQ(mailclient::TokenCacheKey(a), mailclient::TokenCacheKey(b)) << "a new secret keeps the token";
  b.scope = "other";
  EXPECT_NE(mailclient::TokenCacheKey(a), mailclient::TokenCacheKey(b));
  mailclient::OAuthSettings command;
  command.command = "get-token";
  EXPECT_NE(mailclient::TokenCacheKey(a), mailclient::TokenCacheKey(command));
  // A token the client got with one certificate is not taken with another.
  mailclient::OAuthSettings certified = a;
  certified.client_certificate = "/etc/postrine/one.pem";
  EXPECT_NE(mailclient::TokenCacheKey(a), mailclient::TokenCacheKey(certified));
  mailclient::OAuthSettings other_certificate = certified;
  other_certificate.client_certificate = "/etc/postrine/two.pem";
  EXPECT_NE(mailclient::TokenCacheKey(certified), mailclient::TokenCacheKey(other_certificate));

  const std::string key = mailclient::TokenCacheKey(a);
  const std::string text = mailclient::TokenCacheText(key, {"tok", kNow + 3600});
  EXPECT_EQ(text.find("secret"), std::string::npos);
  CachedToken token;
  EXPECT_TRUE(mailclient::TokenFromCacheText(text, key, kNow + 3600 - 301, token));
  EXPECT_EQ(token.token, "tok");
  EXPECT_FALSE(mailclient::TokenFromCacheText(text, key, kNow + 3600 - 300, token)) << "within the margin";
  EXPECT_FALSE(mailclient::TokenFromCacheText(text, key, kNow - 86400, token)) << "more than a day ahead";
  EXPECT_FALSE(mailclient::TokenFromCacheText(text, mailclient::TokenCacheKey(b), kNow, token));
  EXPECT_FALSE(mailclient::TokenFromCacheText("garbage\n", key, kNow, token));
  EXPECT_FALSE(mailclient::TokenFromCacheText(text.substr(0, text.find("token ")), key, kNow, token));
}

}  // namespace
