// The parts of the client assertion that the token endpoint reads as
// text: base64url, the header's thumbprints, the claims, the jti, and the
// forms in which a user copies a certificate's thumbprint.
#include <gtest/gtest.h>

#include <set>

#include "mailclient/oauth/client_assertion.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TEST(ClientAssertion, Base64UrlHasNoPaddingAndTheUrlAlphabet) {
  const struct {
    std::string bytes;
    std::string text;
  } cases[] = {
      {"", ""},       {"f", "Zg"},         {"fo", "Zm8"},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg"}, {"fooba", "Zm9vYmE"}, {"foobar", "Zm9vYmFy"},
      // Where standard base64 writes + and /.
      {Bytes({0xfb, 0xff, 0xbf}), "-_-_"},
      // Microsoft's example of an x5t: the SHA-1 thumbprint
      // 84E05C1D98BCE3A5421D225B140B36E86A3D5534.
      {Bytes({0x84, 0xE0, 0x5C, 0x1D, 0x98, 0xBC, 0xE3, 0xA5, 0x42, 0x1D, 0x22, 0x5B, 0x14, 0x0B, 0x36, 0xE8, 0x6A,
              0x3D, 0x55, 0x34}),
       "hOBcHZi846VCHSJbFAs26Go9VTQ"},
  };
  for (const auto& c : cases) EXPECT_EQ(mailclient::Base64Url(c.bytes), c.text) << c.text;
}

TEST(ClientAssertion, ThumbprintIsTakenAsCopiedFromCertmgrOrPowerShell) {
  const std::string hex = "84E05C1D98BCE3A5421D225B140B36E86A3D5534";
  const struct {
    std::string text;
    std::string thumbprint;  // empty: refused
  } cases[] = {
      {hex, hex},
      {"84e05c1d98bce3a5421d225b140b36e86a3d5534", hex},
      {"84 e0 5c 1d 98 bc e3 a5 42 1d 22 5b 14 0b 36 e8 6a 3d 55 34", hex},
      {"84:E0:5C:1D:98:BC:E3:A5:42:1D:22:5B:14:0B:36:E8:6A:3D:55:34", hex},
      // certmgr's details pane puts an invisible left-to-right mark first.
      {"\xE2\x80\x8E" "84 e0 5c 1d 98 bc e3 a5 42 1d 22 5b 14 0b 36 e8 6a 3d 55 34", hex},
      {"\t" + hex + " ", hex},
      {hex.substr(1), ""},
      {hex + "00", ""},
      {hex.substr(1) + "G", ""},
      // A path where a thumbprint belongs.
      {"C:\\certs\\alerts.pem", ""},
      {"\xE2\x80\x8F" + hex, ""},  // a right-to-left mark is no blank
  };
  for (const auto& c : cases) EXPECT_EQ(mailclient::ThumbprintHex(c.text), c.thumbprint) << c.text;
}

TEST(ClientAssertion, HeaderNamesTheAlgorithmAndBothThumbprints) {
  const std::string header = mailclient::AssertionHeader("PS256", std::string(32, '\xff'), std::string(20, '\0'));
  EXPECT_NE(header.find(R"("alg":"PS256")"), std::string::npos) << header;
  EXPECT_NE(header.find(R"("typ":"JWT")"), std::string::npos) << header;
  EXPECT_NE(header.find(R"("x5t#S256":")" + mailclient::Base64Url(std::string(32, '\xff')) + "\""), std::string::npos)
      << header;
  EXPECT_NE(header.find(R"("x5t":"AAAAAAAAAAAAAAAAAAAAAAAAAAA")"), std::string::npos) << header;
}

TEST(ClientAssertion, ClaimsAreEscapedAndLiveAFewMinutes) {
  const std::string claims =
      mailclient::AssertionClaimsJson({"https://login.example/t\"x", "id\\\"1", "jti-1", 1800000000});
  for (const char* part : {R"("aud":"https://login.example/t\"x")", R"("iss":"id\\\"1")", R"("sub":"id\\\"1")",
                           R"("jti":"jti-1")", R"("nbf":1800000000)", R"("iat":1800000000)"}) {
    EXPECT_NE(claims.find(part), std::string::npos) << part << " in " << claims;
  }
  EXPECT_NE(claims.find("\"exp\":" + std::to_string(1800000000 + mailclient::kAssertionLife)), std::string::npos);
  EXPECT_GE(mailclient::kAssertionLife, 120);
  EXPECT_LE(mailclient::kAssertionLife, 600);
}

TEST(ClientAssertion, JwtIdIsARandomGuidNeverTheSame) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string id = mailclient::FreshJwtId();
    ASSERT_EQ(id.size(), 36u) << id;
    for (std::size_t at : {8u, 13u, 18u, 23u}) EXPECT_EQ(id[at], '-') << id;
    EXPECT_EQ(id[14], '4') << id;
    EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos) << id;
    EXPECT_TRUE(seen.insert(id).second) << id;
  }
}

}  // namespace
