// What the parts of the mail-client library share: the kind of a failure,
// which the program turns into its exit code, and where the bearer tokens
// of an OAuth logon come from.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace mailclient {

/// What became of a delivery, or of a step on the way to it.
enum class Outcome {
  kSent,
  kBadAddress,  // an address that cannot be used; nothing was sent
  kPermanent,   // refused for good (5xx), or a security rule stood in the way
  kTemporary,   // 4xx, connection failure or time-out: worth trying later
  kConfig,      // the settings cannot work as they stand (a token source that cannot run)
};

/// A failure: its kind, and a sentence for the user that names the stage
/// and quotes the peer or the system.
struct Failure {
  Outcome kind = Outcome::kTemporary;
  std::string text{};
  /// The failure is this message's own (the server refused it or its
  /// recipients, or its files could not be read), not one of the server,
  /// the connection, TLS or the logon, which any message would meet.
  bool own = false;
};

/// The longest token taken from any source. The providers' tokens are JWTs
/// of a few kilobytes; anything far longer is output gone wrong, and a
/// prefix of it would only be refused by the server.
inline constexpr std::size_t kLongestToken = 16 * 1024;

/// True when `token` can go into a SASL message as it is: printable ASCII
/// without blanks (RFC 6750's b64token and more), so that no token can end
/// the command line early.
inline bool UsableToken(const std::string& token) {
  if (token.empty()) return false;
  for (char c : token) {
    if (c <= ' ' || c > '~') return false;
  }
  return true;
}

/// Where the bearer tokens of an OAuth logon come from. A failure says why
/// in a sentence and what kind of failure it is.
class TokenSource {
 public:
  virtual ~TokenSource() = default;
  /// A token: one kept from before unless `fresh`; `kept` tells whether it
  /// was (rather than fetched now). The failure when none could be had.
  virtual std::optional<Failure> Token(bool fresh, std::string& token, bool& kept) = 0;
  /// The server refused the last token: it is not to be used again.
  virtual void Refused() = 0;
};

}  // namespace mailclient
