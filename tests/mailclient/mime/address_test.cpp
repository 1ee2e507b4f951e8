// Addresses as typed against what may travel: refused ones with the reason a
// user is told, and the forms the others take in SMTP and in the header.
#include <gtest/gtest.h>

#include <string>

#include "mailclient/mime/address.h"

using mailclient::Address;
using mailclient::ParseAddress;

namespace {

// A domain of `length` octets made of labels no longer than DNS allows.
std::string DomainOf(std::size_t length) {
  std::string domain;
  while (domain.size() < length) {
    if (!domain.empty()) domain += '.';
    domain += std::string(std::min<std::size_t>(63, length - domain.size()), 'd');
  }
  return domain;
}

}  // namespace

TEST(ParseAddress, GivesTheFormsAnAddressTravelsIn) {
  struct Case {
    std::string typed;
    std::string ascii;  // the mailbox without SMTPUTF8
    std::string utf8;   // the mailbox under SMTPUTF8
  };
  const Case cases[] = {
      {"ops@example.com", "ops@example.com", "ops@example.com"},
      // Local parts that are no dot-atom become quoted strings.
      {".a@x.io", "\".a\"@x.io", "\".a\"@x.io"},
      {"a..b@x.io", "\"a..b\"@x.io", "\"a..b\"@x.io"},
      {"a@b@x.io", "\"a@b\"@x.io", "\"a@b\"@x.io"},
      // One typed as a quoted string is taken by its content.
      {"\"x,y\"@x.io", "\"x,y\"@x.io", "\"x,y\"@x.io"},
      {"\"ab\"@x.io", "ab@x.io", "ab@x.io"},
      {"\"a\"b@x.io", "\"\\\"a\\\"b\"@x.io", "\"\\\"a\\\"b\"@x.io"},
      {"a@[192.0.2.1]", "a@[192.0.2.1]", "a@[192.0.2.1]"},
      // Text that is not UTF-8 is taken in the ANSI code page.
      {"j\xf6rg@b\xfc" "cher.example", "j\xc3\xb6rg@xn--bcher-kva.example", "j\xc3\xb6rg@b\xc3\xbc" "cher.example"},
  };
  for (const Case& c : cases) {
    Address address;
    EXPECT_EQ(ParseAddress(c.typed, true, address), "") << c.typed;
    EXPECT_EQ(address.Mailbox(false), c.ascii) << c.typed;
    EXPECT_EQ(address.Mailbox(true), c.utf8) << c.typed;
  }
}

TEST(ParseAddress, TakesADisplayNameBeforeTheAddressInAngleBrackets) {
  struct Case {
    std::string typed;
    std::string name;
    std::string mailbox;
  };
  const Case cases[] = {
      {"<ops@example.com>", "", "ops@example.com"},
      {"Backup Cron <backup@example.com>", "Backup Cron", "backup@example.com"},
      {"  Backup  Cron\t<backup@example.com> ", "Backup  Cron", "backup@example.com"},
      {"\"Smith, John\" <j@x.io>", "Smith, John", "j@x.io"},
      {"\"a \\\"q\\\" <b>\"<j@x.io>", "a \"q\" <b>", "j@x.io"},  // "<" inside the quotes
      {"\"\" <j@x.io>", "", "j@x.io"},
      {"J\xf6rg <\"j,x\"@x.io>", "J\xc3\xb6rg", "\"j,x\"@x.io"},  // ANSI code page
      {"Desk <postmaster>", "Desk", "postmaster"},
  };
  for (const Case& c : cases) {
    Address address;
    EXPECT_EQ(ParseAddress(c.typed, true, address), "") << c.typed;
    EXPECT_EQ(address.name, c.name) << c.typed;
    EXPECT_EQ(address.Mailbox(false), c.mailbox) << c.typed;
    EXPECT_EQ(address.typed, c.typed);
  }
}

TEST(ParseAddress, RefusesWhatIsNoAddressAndSaysWhy) {
  const std::string too_long = "longer than SMTP allows";
  struct Case {
    std::string typed;
    bool recipient;
    std::string reason;  // the start of it
  };
  const Case cases[] = {
      {"", true, "empty"},
      {"ab", true, "no \"@\""},
      {"postmaster", false, "no \"@\""},  // a sender needs a domain
      {"@x.io", true, "nothing before the \"@\""},
      {"a@", true, "no domain after the \"@\""},
      {"a b@x.io", true, "a blank"},
      {"a@x.io>", true, "\"<\" or \">\""},
      {std::string("a\0b@x.io", 8), true, "a control character"},
      {"a\x7f@x.io", true, "a control character"},
      {"a@-x.io", true, "the domain is no valid domain name"},
      {"a@x_y.io", true, "the domain is no valid domain name"},
      {"a@x..io", true, "the domain is no valid domain name"},
      {"a@" + DomainOf(64), true, "the domain is no valid domain name"},  // one label of 64
      // A label that IDNA makes longer than 63 octets.
      {"a@" + std::string(60, 'a') + "\xc3\xbc.example", true, "the domain is no valid international domain name"},
      {std::string(65, 'l') + "@x.io", true, too_long},
      {std::string(62, 'l') + ",@x.io", true, too_long},  // 65 octets once quoted
      {"a@" + DomainOf(258), true, too_long},
      {std::string(64, 'l') + "@" + DomainOf(190), true, too_long},  // a path of 257
      {std::string(8191, 's') + "@x.io", false, too_long},
      // Display names.
      {"Backup Cron backup@example.com", false, "a blank"},
      {"Ops <ops@x.io", true, "no closing \">\""},
      {"Ops <ops@x.io> (desk)", true, "text after \">\""},
      {"Ops <ops@x.io>\r\nBcc: e@x.io", true, "text after \">\""},
      {"Ops\r\nBcc: e@x.io <ops@x.io>", true, "a control character in the name"},
      {std::string("\"O\0\" <ops@x.io>", 13), true, "a control character in the name"},
      {"Op\x7fs <ops@x.io>", true, "a control character in the name"},
      {"\"Ops <ops@x.io>", true, "no closing quote after the name"},
      {"\"Ops\" Desk <ops@x.io>", true, "text between the quoted name and \"<\""},
      {"Ops <o ps@x.io>", true, "a blank"},
      {"Ops <<ops@x.io>", true, "\"<\" or \">\""},
      {"Ops <ops@x.io\n>", true, "a control character"},
      {"Ops <>", true, "empty"},
  };
  for (const Case& c : cases) {
    Address address;
    const std::string reason = ParseAddress(c.typed, c.recipient, address);
    EXPECT_EQ(reason.substr(0, c.reason.size()), c.reason) << c.typed.substr(0, 80) << ": " << reason;
  }
  // The longest that fits: 64 octets before the "@", a path of 256.
  Address address;
  EXPECT_EQ(ParseAddress(std::string(64, 'l') + "@" + DomainOf(189), true, address), "");
  EXPECT_EQ(address.Mailbox(false).size() + 2, mailclient::kMaxPath);
}

TEST(SenderRefusal, CutsALongAddress) {
  const std::string text = mailclient::SenderRefusal({std::string(8191, 's'), "too long"});
  EXPECT_LT(text.size(), 200u);
  EXPECT_EQ(text.rfind("the sender address \"sss", 0), 0u);
}
