// What Microsoft Graph's mail requests need beyond HTTP itself: the error
// fields of its answers, the one wait that Retry-After may ask for, the
// pieces of an upload session, and the sizes Graph takes. Pure text
// functions, so that each rule is tested without a socket.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mailclient {

/// The largest request Graph takes: a message whose MIME, in base64, is
/// larger goes as a draft with its large attachments apart.
inline constexpr std::uint64_t kGraphLargestRequest = 4 * 1024 * 1024;
/// Attachments of this size and more go through an upload session.
inline constexpr std::uint64_t kGraphUploadFrom = 3 * 1024 * 1024;
/// The largest attachment Graph takes.
inline constexpr std::uint64_t kGraphLargestAttachment = 150 * 1024 * 1024;
/// Every piece of an upload but the last is a multiple of this size.
inline constexpr std::uint64_t kGraphPieceUnit = 320 * 1024;
/// A piece as large as Graph takes one: 3.75 MiB, under its 4 MB.
inline constexpr std::uint64_t kGraphPiece = 12 * kGraphPieceUnit;
/// The wait before the one retry when a 429 or 503 gives no Retry-After.
inline constexpr int kGraphDefaultWait = 1;

/// The "error" object of a Graph answer: its code and message, printable
/// and cut short; both empty when the body holds none.
struct GraphError {
  std::string code;
  std::string message;
};
GraphError ReadGraphError(std::string_view body);

/// The seconds to wait before trying once more after an answer of
/// `status` whose Retry-After field is `retry_after` (empty: none). Only
/// 429 and 503 are tried again, and only when the wait fits within
/// `timeout_seconds`; nothing otherwise.
std::optional<int> RetryWait(int status, std::string_view retry_after, int timeout_seconds);

/// One PUT of an upload session: bytes `first` to `last`, both included.
struct BytePiece {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
};
/// The pieces that upload `size` bytes (at least 1), in order.
std::vector<BytePiece> UploadPieces(std::uint64_t size);
/// The Content-Range value of `piece` of a file of `size` bytes.
std::string ContentRange(const BytePiece& piece, std::uint64_t size);

/// The length of `bytes` in base64 without line breaks.
inline std::uint64_t Base64Length(std::uint64_t bytes) { return (bytes + 2) / 3 * 4; }

/// `text` as one segment of a URL's path (RFC 3986 pchar): an address's
/// "@" as it is, anything else that is neither unreserved nor a
/// sub-delimiter as %XX.
std::string PathSegment(std::string_view text);

/// `url` as the trace and the error line may show it: an upload session's
/// query, which carries its token, as "?<redacted>".
std::string UrlWithoutQuery(std::string_view url);

}  // namespace mailclient
