// The command line as users type it: every call the plain reading accepts
// keeps its meaning, the options only give a use to calls it refuses, and a
// value an option does not take is refused with the reason.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/call_options.h"

namespace {

using app::ParseCall;

// The call in one line of text, so that a table can hold what it should be.
std::string Shown(const std::vector<std::string>& args) {
  const app::CallParse parsed = ParseCall(args);
  if (!parsed.call) return parsed.why.empty() ? "usage" : "why: " + parsed.why;
  const app::Call& c = *parsed.call;
  std::ostringstream out;
  out << (c.extended ? "ext " : "") << "s=" << c.subject << " m=" << c.mail_file << " r=" << c.recipients;
  for (const std::string& a : c.attachments) out << " a=" << a;
  if (!c.cc.empty()) out << " cc=" << c.cc;
  if (!c.bcc.empty()) out << " bcc=" << c.bcc;
  if (!c.reply_to.empty()) out << " replyto=" << c.reply_to;
  if (!c.priority.empty()) out << " priority=" << c.priority;
  if (c.receipt) out << " receipt";
  if (c.html) out << " html";
  if (!c.alt_file.empty()) out << " alt=" << c.alt_file;
  for (const std::string& e : c.embeds) out << " embed=" << e;
  if (!c.dsn.empty()) out << " dsn=" << c.dsn;
  for (const auto& [name, value] : c.header_fields) out << " x=" << name << "|" << value;
  for (const std::string& f : c.recipient_files) out << " tf=" << f;
  if (!c.profile.empty()) out << " profile=" << c.profile;
  return out.str();
}

TEST(ParseCall, OptionsOnlyChangeCallsThatWouldBeRefused) {
  const struct {
    std::vector<std::string> args;
    std::string shown;
  } cases[] = {
      // Calls the plain reading accepts: an option name is a file or a recipient.
      {{"p", "-cc", "a@x.io"}, "s= m=-cc r=a@x.io"},
      {{"p", "m.txt", "-receipt"}, "s= m=m.txt r=-receipt"},
      {{"p", "-html", "a@x.io"}, "s= m=-html r=a@x.io"},
      {{"p", "-s", "-bcc", "m.txt", "a@x.io"}, "s=-bcc m=m.txt r=a@x.io"},
      {{"p", "m.txt", "a@x.io", "-s"}, "usage"},
      // A trailing option is an ordinary argument, so the call stays refused.
      {{"p", "m.txt", "a@x.io", "-cc"}, "usage"},
      {{"p", "m.txt", "a@x.io", "b@x.io", "-tf"}, "usage"},
      {{"p", "-CC", "c@x.io,d@x.io", "m.txt", "-Bcc", "e@x.io", "a@x.io", "-cc", "f@x.io"},
       "ext s= m=m.txt r=a@x.io cc=c@x.io,d@x.io,f@x.io bcc=e@x.io"},
      {{"p", "-receipt", "-s", "Hi", "m.txt", "a@x.io", "-A", "f.pdf"}, "ext s=Hi m=m.txt r=a@x.io a=f.pdf receipt"},
      {{"p", "-", "-HTML", "a@x.io"}, "ext s= m=- r=a@x.io html"},
      {{"p", "-embed", "chart.png", "r.html", "-Alt", "r.txt", "a@x.io", "-EMBED", "logo.gif"},
       "ext s= m=r.html r=a@x.io alt=r.txt embed=chart.png embed=logo.gif"},
      {{"p", "-embed", "chart.png"}, "s= m=-embed r=chart.png"},
      {{"p", "-tf", "one.txt", "-TF", "two.txt", "m.txt", "-profile", "work"},
       "ext s= m=m.txt r= tf=one.txt tf=two.txt profile=work"},
      {{"p", "-replyto", "Desk <desk@x.io>", "m.txt", "a@x.io"}, "ext s= m=m.txt r=a@x.io replyto=Desk <desk@x.io>"},
      {{"p", "-priority", "HIGH", "m.txt", "a@x.io"}, "ext s= m=m.txt r=a@x.io priority=high"},
      {{"p", "-dsn", "delay, Success", "m.txt", "a@x.io"}, "ext s= m=m.txt r=a@x.io dsn=DELAY,SUCCESS"},
      {{"p", "-dsn", "Never", "m.txt", "a@x.io"}, "ext s= m=m.txt r=a@x.io dsn=NEVER"},
      {{"p", "-x", "X-Ticket:  42: open", "-x", "X-Empty:", "m.txt", "a@x.io"},
       "ext s= m=m.txt r=a@x.io x=X-Ticket|42: open x=X-Empty|"},
  };
  for (const auto& c : cases) EXPECT_EQ(Shown(c.args), c.shown) << c.args[1];
}

TEST(ParseCall, AValueTheOptionDoesNotTakeIsRefusedWithTheReason) {
  const struct {
    std::string option, value, why;
  } cases[] = {
      {"-priority", "urgent", "unknown -priority value \"urgent\" (use high, normal or low)"},
      {"-dsn", "never,success", "unknown -dsn value \"never,success\""},
      {"-dsn", "success,,delay", "unknown -dsn value \"success,,delay\""},
      {"-dsn", "failure,FAILURE", "unknown -dsn value \"failure,FAILURE\""},
      {"-dsn", "", "unknown -dsn value \"\""},
      {"-x", "X-Ticket 42", "the header \"X-Ticket 42\" given with -x holds no \":\""},
  };
  for (const auto& c : cases) {
    const std::string shown = Shown({"p", c.option, c.value, "m.txt", "a@x.io"});
    EXPECT_TRUE(shown.starts_with("why: " + c.why)) << shown;
  }
}

TEST(RecipientFile, EachLineOutsideCommentsIsOneEntry) {
  EXPECT_EQ(app::RecipientFileLines("\xEF\xBB\xBF"
                                    "a@x.io, b@x.io\r\n"
                                    "# the team\r\n"
                                    "\r\n"
                                    "   \t\n"
                                    "\"Desk #2\" <desk@x.io>  # tickets\n"
                                    "c@x.io"),
            (std::vector<std::string>{"a@x.io, b@x.io", "\"Desk #2\" <desk@x.io>", "c@x.io"}));
  EXPECT_TRUE(app::RecipientFileLines("# nobody yet\n\n").empty());
}

TEST(SettingsText, ASectionIsFoundByItsHeaderLineInAnyLetterCase) {
  const std::string text = "\xEF\xBB\xBF[Settings]\r\nServerName=mail\r\nwork=1\r\n[ Work ]\r\nServerName=other\r\n";
  EXPECT_TRUE(app::HasSection(text, "work"));
  EXPECT_TRUE(app::HasSection(text, "SETTINGS"));
  EXPECT_FALSE(app::HasSection(text, "home"));
  EXPECT_FALSE(app::HasSection("ServerName=[work]\r\n", "work")) << "a value is no section";
}

}  // namespace
