// The optional settings as a user writes them: each good value taken, each
// malformed one reported with its key and the values it may take.
#include <gtest/gtest.h>

#include <fstream>
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

}  // namespace
