// SMTP replies (RFC 5321 section 4.2): a three-digit code on every line,
// "-" after the code on all lines but the last. The parser takes one line
// at a time, so that a reply is checked as it arrives.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mailclient {

struct Reply {
  int code = 0;
  /// The text of each line after the code and its separator.
  std::vector<std::string> lines;

  bool Positive() const { return code >= 200 && code < 400; }
  bool Temporary() const { return code >= 400 && code < 500; }
  /// The reply as one line for a message: the code, then the lines' texts
  /// joined by blanks ("550 5.1.1 user unknown").
  std::string Quote() const;
};

/// Longest reply line taken (RFC 5321 allows 512 octets; servers exceed it).
inline constexpr std::size_t kMaxReplyLine = 4096;
/// Most lines one reply may have.
inline constexpr std::size_t kMaxReplyLines = 512;

class ReplyParser {
 public:
  enum class Status { kMore, kDone, kMalformed };

  /// Takes the next line of the reply, without its line end. After kDone
  /// the reply is in reply(); after kMalformed, error() says what was wrong.
  Status Feed(std::string_view line);

  const Reply& reply() const { return reply_; }
  const std::string& error() const { return error_; }
  /// Starts over for the next reply.
  void Reset();

 private:
  Status Fail(std::string why, std::string_view line);

  Reply reply_;
  std::string error_;
};

}  // namespace mailclient
