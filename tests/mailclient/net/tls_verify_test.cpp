// The platform's check of a server certificate against names that do not
// resolve here (wildcards, names of several labels): one table for both
// back ends. Addresses, validity and issuers are covered end to end, against
// real servers, by tests/e2e/test_tls.py.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "mailclient/net/tls_engine.h"
#include "runtime/identity.h"

using namespace mailclient;

namespace {

#include "mailclient/net/tls_fixtures.inc"

class CheckCertificateChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ca_file_ = (std::filesystem::temp_directory_path() /
                ("postrine_fixture_ca_" + std::to_string(runtime::ProcessId()) + ".pem"))
                   .string();
    std::ofstream(ca_file_, std::ios::binary) << kFixtureCa;
  }
  void TearDown() override { std::filesystem::remove(ca_file_); }

  CertificateVerdict Check(const char* certificate, const char* host, bool with_ca = true) {
    return CheckCertificateChain(certificate, {host, true, with_ca ? ca_file_ : "", 10000}).verdict;
  }

  std::string ca_file_;
};

TEST_F(CheckCertificateChainTest, NamesMatchByTheSameRulesOnBothPlatformsAndOnlyUnderATrustedIssuer) {
  struct Case {
    const char* certificate;
    const char* host;
    CertificateVerdict verdict;
    bool with_ca = true;
  };
  const Case cases[] = {
      {kFixtureExact, "mail.example.test", CertificateVerdict::kTrusted},
      {kFixtureExact, "MAIL.Example.TEST", CertificateVerdict::kTrusted},
      {kFixtureExact, "example.test", CertificateVerdict::kNameMismatch},
      {kFixtureExact, "mail.example.test.org", CertificateVerdict::kNameMismatch},
      {kFixtureExact, "xmail.example.test", CertificateVerdict::kNameMismatch},
      // "*." stands for exactly one whole label.
      {kFixtureWildcard, "mail.example.test", CertificateVerdict::kTrusted},
      {kFixtureWildcard, "a.mail.example.test", CertificateVerdict::kNameMismatch},
      {kFixtureWildcard, "example.test", CertificateVerdict::kNameMismatch},
      {kFixtureWildcard, "mail.other.test", CertificateVerdict::kNameMismatch},
      // A wildcard inside a label is not honoured.
      {kFixturePartialWildcard, "mail.example.test", CertificateVerdict::kNameMismatch},
      // Without the CA among the roots, a matching name is not enough.
      {kFixtureExact, "mail.example.test", CertificateVerdict::kIssuerUnknown, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Check(c.certificate, c.host, c.with_ca), c.verdict) << c.host << (c.with_ca ? "" : " without the CA");
  }
}

}  // namespace
