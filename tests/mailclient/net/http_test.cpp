// The token request's HTTP: the URLs taken, the form's encoding, and
// answers read from a scripted stream in every framing, split anywhere,
// with the malformed and the oversized refused.
#include <gtest/gtest.h>

#include <deque>

#include "mailclient/net/http.h"
#include "mailclient/net/scripted_peer.h"

using mailclient::HttpResponse;
using mailclient::HttpsUrl;

namespace {

struct Read {
  bool ok = false;
  HttpResponse response;
  std::string why;
  bool lost = false;
};

Read ReadFrom(std::deque<std::string> pieces, bool silent = false) {
  scripted::Peer connection(std::move(pieces), silent);
  Read r;
  r.ok = mailclient::ReadHttpResponse(connection, mailclient::Deadline(5000), r.response, r.why, r.lost);
  return r;
}

TEST(HttpUrl, TakesHostsPortsAndTargetsAndRefusesAnythingButHttps) {
  struct Case {
    std::string text;
    std::string host;  // empty: refused
    int port;
    std::string target;
  };
  const Case cases[] = {
      {"https://login.microsoftonline.com/contoso/oauth2/v2.0/token", "login.microsoftonline.com", 443,
       "/contoso/oauth2/v2.0/token"},
      {"HTTPS://oauth2.googleapis.com", "oauth2.googleapis.com", 443, "/"},
      {"https://localhost:8443/token?x=1#frag", "localhost", 8443, "/token?x=1"},
      {"https://[::1]:9443/t", "::1", 9443, "/t"},
      {"https://127.0.0.1?a=b", "127.0.0.1", 443, "/?a=b"},
      {"http://localhost/token", "", 0, ""},
      {"https:///token", "", 0, ""},
      {"https://host:0/", "", 0, ""},
      {"https://host:65536/", "", 0, ""},
      {"https://host:/", "", 0, ""},
      {"https://[::1/", "", 0, ""},
      {"https://host/a b", "", 0, ""},
  };
  for (const Case& c : cases) {
    HttpsUrl url;
    const std::string why = mailclient::ParseHttpsUrl(c.text, url);
    EXPECT_EQ(why.empty(), !c.host.empty()) << c.text << ": " << why;
    if (!why.empty()) continue;
    EXPECT_EQ(url.host, c.host) << c.text;
    EXPECT_EQ(url.port, c.port) << c.text;
    EXPECT_EQ(url.target, c.target) << c.text;
  }
}

TEST(HttpUrl, IsShownWithoutAUserOrPassword) {
  const std::pair<std::string, std::string> cases[] = {
      {"http://user:p@ss@host:8443?x", "http://<redacted>@host:8443?x"},
      {"https://token@[::1]", "https://<redacted>@[::1]"},
      {"https://host/next?to=a@b", "https://host/next?to=a@b"},
      {"https://host", "https://host"},
  };
  for (const auto& [url, shown] : cases) EXPECT_EQ(mailclient::UrlForDisplay(url), shown);
}

TEST(HttpRequest, EncodesTheFormAndBracketsAnIPv6Host) {
  EXPECT_EQ(mailclient::FormEncode(
                {{"client_id", "a b+c"}, {"client_secret", "x&y=z~%\xc3\xa9"}, {"scope", "https://o.example/.default"}}),
            "client_id=a+b%2Bc&client_secret=x%26y%3Dz~%25%C3%A9&scope=https%3A%2F%2Fo.example%2F.default");
  EXPECT_NE(mailclient::HttpPostRequest({"::1", 8443, "/t"}, "a=b").find("\r\nHost: [::1]:8443\r\n"),
            std::string::npos);
}

TEST(HttpResponse, EveryFramingIsReadWhereverTheBytesAreSplit) {
  const std::string body = "{\"access_token\":\"abc\"}";
  const std::string framings[] = {
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 22\r\n\r\n" + body + "extra",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;ext=1\r\n{\"acc\r\n11\r\ness_token\":\"abc\"}\r\n0\r\n"
      "Trailer: x\r\n\r\n",
      "HTTP/1.0 200 OK\r\n\r\n" + body,
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\ncontent-length: 22\r\n\r\n" + body,
  };
  for (const std::string& bytes : framings) {
    for (std::size_t at = 0; at < bytes.size(); ++at) {
      const Read r = ReadFrom({bytes.substr(0, at), bytes.substr(at)});
      ASSERT_TRUE(r.ok) << at << ": " << r.why << "\n" << bytes;
      EXPECT_EQ(r.response.status, 200);
      ASSERT_EQ(r.response.body, body) << at;
    }
  }
}

TEST(HttpResponse, MalformedOversizedOrUnfinishedAnswersAreRefusedAndSaySo) {
  struct Case {
    std::string bytes;
    bool silent;
    std::string why;
    bool lost;
  };
  const std::string big_header(mailclient::kMaxHttpHeader + 10, 'x');
  const Case cases[] = {
      {"SSH-2.0-OpenSSH\r\n", false, "the answer is not HTTP", false},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false, "a malformed chunk size \"zz\"", false},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\n", false, "a malformed chunk size", false},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n123456789\r\n", false, "a malformed chunk size", false},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n200000\r\n", false, "larger than postrine takes",
       false},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", false, "transfer coding \"gzip\"", false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1e3\r\n\r\n", false, "a malformed Content-Length", false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 99999999\r\n\r\n", false, "larger than postrine takes", false},
      {"HTTP/1.1 200 OK\r\nX: " + big_header + "\r\n\r\n", false, "larger than postrine takes", false},
      {"HTTP/1.1 200 OK\r\nno colon here\r\n\r\n", false, "a malformed header line", false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", false, "closed the connection", true},
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", true, "no answer within 5 seconds", true},
      {"", true, "no answer within 5 seconds", true},
  };
  for (const Case& c : cases) {
    const Read r = ReadFrom({c.bytes}, c.silent);
    EXPECT_FALSE(r.ok) << c.bytes.substr(0, 60);
    EXPECT_NE(r.why.find(c.why), std::string::npos) << c.bytes.substr(0, 60) << ": " << r.why;
    EXPECT_EQ(r.lost, c.lost) << c.bytes.substr(0, 60);
  }
}

}  // namespace
