// The rules Graph's requests live by: the pieces an upload session takes,
// the one wait Retry-After may ask for, Graph's error fields read from
// whatever its answer holds, and the mailbox in a URL's path.
#include <gtest/gtest.h>

#include "mailclient/graph/graph_protocol.h"

namespace {

using mailclient::kGraphPiece;
using mailclient::kGraphPieceUnit;

TEST(GraphUpload, PiecesAreWholeUnitsUnder4MiBCoveringEveryByteOnce) {
  const std::uint64_t kMiB = 1024 * 1024;
  struct Case {
    std::uint64_t size;
    std::size_t pieces;
    std::string last_range;
  };
  const Case cases[] = {
      {1, 1, "bytes 0-0/1"},
      {3 * kMiB, 1, "bytes 0-3145727/3145728"},
      {kGraphPiece, 1, "bytes 0-3932159/3932160"},
      {kGraphPiece + 1, 2, "bytes 3932160-3932160/3932161"},
      {10 * kMiB + 7, 3, "bytes 7864320-10485766/10485767"},
      {150 * kMiB, 40, "bytes 153354240-157286399/157286400"},
  };
  for (const Case& c : cases) {
    const auto pieces = mailclient::UploadPieces(c.size);
    ASSERT_EQ(pieces.size(), c.pieces) << c.size;
    EXPECT_EQ(mailclient::ContentRange(pieces.back(), c.size), c.last_range);
    std::uint64_t next = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const std::uint64_t length = pieces[i].last - pieces[i].first + 1;
      EXPECT_EQ(pieces[i].first, next) << c.size;
      EXPECT_LE(length, 4 * kMiB);
      if (i + 1 < pieces.size()) {
        EXPECT_EQ(length % kGraphPieceUnit, 0u) << c.size << " piece " << i;
      }
      next = pieces[i].last + 1;
    }
    EXPECT_EQ(next, c.size);
  }
}

TEST(GraphRetry, OnlyThrottlingAndUnavailabilityWaitAndOnlyWithinTheTimeout) {
  struct Case {
    int status;
    const char* retry_after;
    int timeout;
    std::optional<int> wait;
  };
  const Case cases[] = {
      {429, "5", 60, 5},
      {503, " 2 ", 60, 2},
      {429, "0", 60, 0},
      {429, "60", 60, 60},
      {429, "61", 60, std::nullopt},
      {503, "99999999999999", 60, std::nullopt},
      {429, "", 60, mailclient::kGraphDefaultWait},
      {429, "Wed, 21 Oct 2026 07:28:00 GMT", 60, mailclient::kGraphDefaultWait},
      {429, "", 0, std::nullopt},
      {500, "1", 60, std::nullopt},
      {502, "1", 60, std::nullopt},
      {401, "1", 60, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mailclient::RetryWait(c.status, c.retry_after, c.timeout), c.wait)
        << c.status << " Retry-After \"" << c.retry_after << "\" Timeout " << c.timeout;
  }
}

TEST(GraphError, CodeAndMessageAreReadFromAnyAnswerPrintableAndCutShort) {
  struct Case {
    std::string body;
    std::string code;
    std::string message;
  };
  const std::string long_message(1000, 'm');
  const Case cases[] = {
      {R"({"error":{"code":"ErrorAccessDenied","message":"Access is denied.","innerError":{"date":"x"}}})",
       "ErrorAccessDenied", "Access is denied."},
      {R"({"error":{"code":"ErrorInvalidUser"}})", "ErrorInvalidUser", ""},
      {R"({"error":{"code":7,"message":["no"]}})", "", ""},
      {R"({"error":"invalid_request"})", "", ""},
      {"<html>502 Bad Gateway</html>", "", ""},
      {"", "", ""},
      {"[1,2]", "", ""},
      // A line break in what Graph says must not end the error line early.
      {"{\"error\":{\"code\":\"A\\r\\nB\",\"message\":\"x\\u0007y\"}}", "A..B", "x.y"},
  };
  for (const Case& c : cases) {
    const mailclient::GraphError error = mailclient::ReadGraphError(c.body);
    EXPECT_EQ(error.code, c.code) << c.body;
    EXPECT_EQ(error.message, c.message) << c.body;
  }
  const auto cut = mailclient::ReadGraphError(R"({"error":{"code":"X","message":")" + long_message + "\"}}");
  EXPECT_LT(cut.message.size(), 400u);
}

TEST(GraphUrl, TheMailboxIsOnePathSegment) {
  EXPECT_EQ(mailclient::PathSegment("o'neil+ops@example.com"), "o'neil+ops@example.com");
  EXPECT_EQ(mailclient::PathSegment("a/b?c#d e%"), "a%2Fb%3Fc%23d%20e%25");
}

}  // namespace
