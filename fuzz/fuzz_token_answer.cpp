// The token endpoint's answer on any bytes, split anywhere: the HTTP reader
// keeps its bounds, and a token it lets through can never end an SMTP
// command line early.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mailclient/smtp/bearer.h"
#include "mailclient/net/http.h"
#include "mailclient/oauth/oauth.h"

namespace {

// Hands out the bytes in pieces of the given size, then the end.
class Bytes final : public mailclient::Connection {
 public:
  Bytes(std::string bytes, std::size_t piece) : bytes_(std::move(bytes)), piece_(piece) {}
  bool Send(std::string_view, const mailclient::Deadline&) override { return true; }
  long Receive(char* buffer, std::size_t size, const mailclient::Deadline&) override {
    const std::size_t n = std::min({size, piece_, bytes_.size() - at_});
    bytes_.copy(buffer, n, at_);
    at_ += n;
    return static_cast<long>(n);
  }
  const std::string& error() const override { return error_; }

 private:
  std::string bytes_;
  std::size_t piece_;
  std::size_t at_ = 0;
  std::string error_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Bytes connection(std::string(reinterpret_cast<const char*>(data + 1), size - 1), data[0] % 16 + 1);
  mailclient::HttpResponse response;
  std::string why;
  bool lost = false;
  if (!mailclient::ReadHttpResponse(connection, mailclient::Deadline(1000), response, why, lost)) return 0;
  if (response.body.size() > mailclient::kMaxHttpBody) std::abort();
  mailclient::CachedToken token;
  mailclient::TokenRequestOutcome request;
  // Whatever the answer says, no piece of the secret comes back, and a
  // token taken is usable, bounded, and lives a second to a day.
  const std::string secret = "s3cr3t";
  const std::optional<mailclient::Failure> failure =
      mailclient::ReadTokenAnswer(response.status, response.reason, response.body, 0, secret, token, request);
  if (!failure &&
      (!mailclient::UsableToken(token.token) || token.token.size() > mailclient::kLongestToken ||
       token.expires_at < 1 || token.expires_at > mailclient::kLongestTokenLife)) {
    std::abort();
  }
  if (failure && failure->text.find(secret) != std::string::npos) std::abort();
  if ((why + request.error + request.error_description).find(secret) != std::string::npos) std::abort();
  return 0;
}
