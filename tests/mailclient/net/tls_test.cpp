// A handshake that the server breaks off with an alert, through the
// platform's own engine: the alert is named the same on both platforms,
// and only the server's internal fault counts as one that may pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "mailclient/net/tls.h"

using namespace mailclient;

namespace {

// A server that takes the ClientHello and answers with `reply`, at most
// `piece` bytes to a read, then closes.
class AnsweringPeer final : public Connection {
 public:
  AnsweringPeer(std::string reply, std::size_t piece) : reply_(std::move(reply)), piece_(piece) {}
  bool Send(std::string_view, const Deadline&) override { return true; }
  long Receive(char* buffer, std::size_t size, const Deadline&) override {
    const std::size_t n = std::min({size, piece_, reply_.size() - at_});
    std::memcpy(buffer, reply_.data() + at_, n);
    at_ += n;
    return static_cast<long>(n);
  }
  const std::string& error() const override { return error_; }

 private:
  std::string reply_;
  std::size_t piece_;
  std::size_t at_ = 0;
  std::string error_;
};

// A fatal alert in a record of its own, in clear text as a server sends it
// before the keys are agreed.
std::string Alert(unsigned char description) { return std::string("\x15\x03\x03\x00\x02\x02", 6) + char(description); }

TEST(TlsHandshake, AnAlertFromTheServerIsNamedAndOnlyItsInternalErrorMayPass) {
  struct Case {
    std::string reply;
    std::string named;
    bool transient;
  };
  const Case cases[] = {
      {Alert(80), "the server sent the TLS alert internal_error (80)", true},
      {Alert(40), "the server sent the TLS alert handshake_failure (40)", false},
      {Alert(112), "the server sent the TLS alert unrecognized_name (112)", false},
      {Alert(200), "the server sent the TLS alert 200", false},
  };
  for (const Case& c : cases) {
    for (const std::size_t piece : {std::size_t{1}, std::string::npos}) {
      bool transient = false;
      std::string error;
      TlsOptions options{"mail.example.com", true, "", 5000, nullptr, &transient};
      EXPECT_EQ(StartTls(std::make_unique<AnsweringPeer>(c.reply, piece), options, error), nullptr);
      EXPECT_EQ(error, "TLS handshake with mail.example.com failed: " + c.named) << piece;
      EXPECT_EQ(transient, c.transient) << c.named;
    }
  }
}

}  // namespace
