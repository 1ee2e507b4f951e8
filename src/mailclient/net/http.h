// The little HTTP/1.1 the token request and Microsoft Graph need: an https
// URL taken apart, a request head or a form-encoded POST written out, and the answer read back from any
// Connection (the program's own TLS stream) with every size bounded and
// every wait under one deadline. No redirect is followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mailclient/net/net.h"
#include "mailclient/net/transport.h"

namespace mailclient {

struct HttpsUrl {
  std::string host;    // an IPv6 literal without its brackets
  int port = 443;
  std::string target;  // path and query, "/" at the least
};

/// Takes apart "https://host[:port][/path][?query]" (host may be an IPv6
/// literal in brackets). Empty when it is one; else the reason: another
/// scheme, user information, an empty host, a bad port.
std::string ParseHttpsUrl(std::string_view text, HttpsUrl& url);

/// `url` as it may be shown in a message or the trace: user information
/// before the host (a user name and password) as "<redacted>".
std::string UrlForDisplay(std::string_view url);

/// One name or value as application/x-www-form-urlencoded writes it.
std::string FormEncoded(std::string_view text);

/// `fields` as application/x-www-form-urlencoded (RFC 6749 appendix B):
/// unreserved bytes as they are, a blank as "+", everything else %XX.
std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields);

/// The bytes of a POST of `body` (a form) to `url`, closing afterwards.
std::string HttpPostRequest(const HttpsUrl& url, std::string_view body);

/// The head of any request to `url`: the request line, Host, `fields`
/// (each "Name: value" without its line end), Content-Length and
/// "Connection: close", ended by the empty line. The body follows it.
std::string HttpRequestHead(std::string_view method, const HttpsUrl& url, const std::vector<std::string>& fields,
                            std::uint64_t content_length);

struct HttpResponse {
  int status = 0;
  std::string reason;
  /// Header fields by lower-case name; a repeated field keeps its last value.
  std::map<std::string, std::string> headers;
  std::string body;
};

/// A TLS connection to the host and port of `url` through `transport`.
/// Null when there is none, with the reason in `why`; `temporary` then
/// tells a line that failed (worth another try) from a certificate or a
/// handshake refused.
std::unique_ptr<Connection> ConnectHttps(const Transport& transport, const HttpsUrl& url, bool verify,
                                         const std::string& ca_file, int timeout_ms, std::string& why,
                                         bool& temporary);

/// Bounds on what an answer may hold.
inline constexpr std::size_t kMaxHttpHeader = 16 * 1024;
inline constexpr std::size_t kMaxHttpBody = 1024 * 1024;

/// Reads one answer from `connection` by `deadline`: the status line, the
/// header, and a body sized by Content-Length, sent in chunks, or ended by
/// the close of the connection. False with the reason in `why`; `lost`
/// then tells whether the line itself failed (closed early, timed out)
/// rather than the answer being malformed. A body larger than
/// `max_body` is refused.
bool ReadHttpResponse(Connection& connection, const Deadline& deadline, HttpResponse& response,
                      std::string& why, bool& lost, std::size_t max_body = kMaxHttpBody);

}  // namespace mailclient
