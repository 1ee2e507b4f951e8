#include "mailclient/smtp/bearer.h"

#include <nlohmann/json.hpp>

#include "mailclient/smtp/reply.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace mailclient {

namespace {

constexpr char kSeparator = '\x01';
constexpr std::size_t kMostStatus = 100;

// A user name as a GS2 saslname (RFC 5801): "," and "=" escaped.
std::string SaslName(const std::string& user) {
  std::string out;
  for (char c : user) {
    if (c == ',') {
      out += "=2C";
    } else if (c == '=') {
      out += "=3D";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string OAuthBearerResponse(const std::string& user, const std::string& host, int port,
                                const std::string& token) {
  const runtime::Activation activation("OAUTHBEARERRESPONSE", __LINE__);
  return "n,a=" + SaslName(user) + "," + kSeparator + "host=" + host + kSeparator + "port=" + std::to_string(port) +
         kSeparator + "auth=Bearer " + token + kSeparator + kSeparator;
}

std::string XOAuth2Response(const std::string& user, const std::string& token) {
  const runtime::Activation activation("XOAUTH2RESPONSE", __LINE__);
  return "user=" + user + kSeparator + "auth=Bearer " + token + kSeparator + kSeparator;
}

std::string ChallengeStatus(const std::string& decoded) {
  const runtime::Activation activation("CHALLENGESTATUS", __LINE__);
  const nlohmann::json json = nlohmann::json::parse(decoded, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return {};
  const auto status = json.find("status");
  if (status == json.end()) return {};
  if (status->is_string()) return runtime::Printable(status->get<std::string>(), kMostStatus);
  if (status->is_number_integer()) return std::to_string(status->get<long long>());
  return {};
}

}  // namespace mailclient
