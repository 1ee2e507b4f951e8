// The two SASL mechanisms that carry an OAuth 2.0 bearer token to an SMTP
// server: OAUTHBEARER (RFC 7628) and Google's and Microsoft's XOAUTH2. The
// messages are built here, and the server's failure challenge read.
#pragma once

#include <cstddef>
#include <string>

namespace mailclient {

/// The OAUTHBEARER client response (RFC 7628 section 3.1), before base64:
/// the GS2 header with the user, then host, port and the token, each ended
/// by ^A, the whole ended by a second ^A.
std::string OAuthBearerResponse(const std::string& user, const std::string& host, int port,
                                const std::string& token);

/// The XOAUTH2 client response, before base64: "user=" user ^A
/// "auth=Bearer " token ^A ^A.
std::string XOAuth2Response(const std::string& user, const std::string& token);

/// The status a failure challenge names: the decoded JSON's "status" member
/// (RFC 7628 section 3.2.2), printable and cut short; empty when the
/// challenge is not such an object.
std::string ChallengeStatus(const std::string& decoded);

}  // namespace mailclient
