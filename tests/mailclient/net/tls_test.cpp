// A handshake that the server breaks off with an alert, through the
// platform's own engine: the alert is named the same on both platforms,
// and only the server's internal fault counts as one that may pass.
#include <gtest/gtest.h>

#include <string>

#include "mailclient/net/scripted_peer.h"
#include "mailclient/net/tls.h"

using namespace mailclient;

namespace {

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
    for (const std::size_t piece : {std::size_t{1}, c.reply.size()}) {
      bool transient = false;
      std::string error;
      TlsOptions options{"mail.example.com", true, "", 5000, nullptr, &transient};
      EXPECT_EQ(StartTls(std::make_unique<scripted::Peer>(scripted::Cut(c.reply, piece)), options, error), nullptr);
      EXPECT_EQ(error, "TLS handshake with mail.example.com failed: " + c.named) << piece;
      EXPECT_EQ(transient, c.transient) << c.named;
    }
  }
}

}  // namespace
