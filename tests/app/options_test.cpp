// The optional settings as a user writes them: each good value taken, each
// malformed one reported with its key and the values it may take.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

#include "app/options.h"
#include "settings/ini_file_spec.h"
#include "support/scratch_dir.h"

namespace {

using app::MailOptions;
using app::ReadMailOptions;

class Options : public ::testing::Test {
 protected:
  MailOptions Read(const std::string& lines) {
    std::ofstream(name_, std::ios::binary) << "[Settings]\r\nServerName=mail\r\n" << lines;
    IniFileSpec ini(name_);
    return ReadMailOptions(ini);
  }

  test_support::ScratchDir dir_{"options"};
  std::string name_ = dir_ / "postrine.ini";
};

// That they are never written shows in the end-to-end test of a first run,
// whose settings file holds the five keys alone; the defaults show in the
// first line of every trace.
TEST_F(Options, GoodValuesAreTakenInAnyLetterCase) {
  using Taken = std::tuple<mailclient::TlsMode, bool, std::string, int, std::string>;
  const auto taken = [](const MailOptions& o) { return Taken(o.tls, o.verify, o.ca_file, o.timeout_seconds, o.problem); };
  EXPECT_EQ(taken(Read("TLS=SMTPS\r\nTLSVerify=Off\r\nCAFile=ca.pem\r\nTimeout=86400\r\n")),
            Taken(mailclient::TlsMode::kSmtps, false, "ca.pem", 86400, ""));
}

TEST_F(Options, AMalformedValueIsASettingsErrorThatSaysWhatIsAllowed) {
  EXPECT_EQ(Read("TLSVerify=1\r\n").problem, "unknown TLSVerify setting \"1\" in postrine.ini (use on or off)");
  // 4294967356 is 60 when cut to 32 bits.
  for (const std::string timeout : {"0", "-5", "10s", "86401", "4294967356", ""}) {
    EXPECT_EQ(Read("Timeout=" + timeout + "\r\n").problem,
              "unknown Timeout setting \"" + timeout +
                  "\" in postrine.ini (use a whole number of seconds from 1 to 86400)");
  }
  EXPECT_EQ(Read("TLS=none\r\nTimeout=x\r\n").problem,
            "unknown TLS setting \"none\" in postrine.ini (use auto, starttls, smtps or off)")
      << "the first of several";
}

TEST_F(Options, AProfileTakesThePlaceOfSettingsKeyByKeyAndWritesNothing) {
  const std::string text =
      "[Settings]\r\nServerName=mail\r\nTLS=smtps\r\nTimeout=30\r\n[Work]\r\nTimeout=90\r\nCAFile=work.pem\r\n";
  std::ofstream(name_, std::ios::binary) << text;
  IniFileSpec ini(name_);
  const MailOptions work = ReadMailOptions(ini, "work");
  EXPECT_EQ(std::tuple(work.tls, work.timeout_seconds, work.ca_file, work.problem),
            std::tuple(mailclient::TlsMode::kSmtps, 90, std::string("work.pem"), std::string()));
  EXPECT_EQ(app::Setting(ini, "Work", "ServerName", "??"), "mail");
  EXPECT_EQ(ReadMailOptions(ini).timeout_seconds, 30);
  std::ifstream in(name_, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
}

}  // namespace
