// The command's one job: compose the message from the settings and the
// arguments, hand it to the SMTP client, and report a failed delivery. The
// exit status tells a calling script what happened (sysexits codes).

#include "app/postrine.h"
#include "app/text.h"
#include "mailclient/cemail.h"
#include "mailclient/csmtp.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/identity.h"
#include "runtime/places.h"
#include "runtime/process.h"
#include "runtime/whole_file.h"
#include "settings/ini_file_spec.h"

namespace {

constexpr char kMailer[] = "postrine 1.0";
constexpr int kExitBadAddress = 65;
constexpr int kExitNoInput = 66;
constexpr int kExitUnavailable = 69;
constexpr int kExitTempFail = 75;
constexpr int kExitConfig = 78;

bool IsAtext(char c) {
  return runtime::IsAsciiAlnum(c) || std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

// A dot-atom: atext runs joined by single dots.
bool IsDotAtom(std::string_view s) {
  if (s.empty() || s.front() == '.' || s.back() == '.') return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '.' ? s[i - 1] == '.' : !IsAtext(s[i])) return false;
  }
  return true;
}

// The message identifier as a header wants it: "<left@domain>", unique by
// the process id and random digits, its left side the time stamp's date
// and seconds with any character a dot-atom forbids made a dot.
std::string MessageId(const std::string& stamp, const std::string& sender) {
  std::string left = stamp.substr(0, stamp.find('@'));
  for (char& c : left) {
    if (!IsAtext(c)) c = '.';
  }
  left.append(".").append(std::to_string(runtime::ProcessId())).append(".").append(runtime::RandomHex(12));
  std::string domain;
  const std::size_t at = sender.rfind('@');
  if (at != std::string::npos) domain = sender.substr(at + 1);
  if (!IsDotAtom(domain)) domain = runtime::HostName();
  if (!IsDotAtom(domain)) domain = "localhost";
  std::string cleaned;
  for (char c : left) {
    if (!(c == '.' && (cleaned.empty() || cleaned.back() == '.'))) cleaned += c;
  }
  while (!cleaned.empty() && cleaned.back() == '.') cleaned.pop_back();
  return "<" + cleaned + "@" + domain + ">";
}

int ExitCode(mailclient::Outcome outcome) {
  switch (outcome) {
    case mailclient::Outcome::kSent: return 0;
    case mailclient::Outcome::kBadAddress: return kExitBadAddress;
    case mailclient::Outcome::kPermanent: return kExitUnavailable;
    case mailclient::Outcome::kTemporary: return kExitTempFail;
  }
  return kExitTempFail;
}

}  // namespace

bool Postrine::Process() {
  const runtime::Activation activation("POSTRINE:PROCESS", __LINE__);
  mailclient::CEmail email;
  email.FromAddress(Sender);
  email.Subject(Subject);
  email.Cargo("Message-Id: " + MessageId(GetTimeStamp(), Sender) + "\r\n" + "X-Mailer: " + kMailer +
              "\r\n");
  email.DestList(Text2Array(Recipients, ",", "\""));

  // A mail file that cannot be read is never sent as an empty message.
  std::string body;
  std::string reason;
  if (!runtime::ReadWholeFile(MailFileName, body, reason)) {
    WriteError("cannot read mail file " + MailFileName + " [" + reason + "]");
    runtime::SetErrorLevel(kExitNoInput);
    return true;
  }
  email.MailBody(std::move(body));

  // Optional settings, read but never written: the file lists only what a
  // user must set.
  IniFileSpec ini(SettingsFileName());
  const std::string tls = runtime::AsciiLower(ini.GetString("Settings", "TLS", "auto"));
  const std::int64_t timeout = ini.GetInt("Settings", "Timeout", 60);
  mailclient::TlsMode mode = mailclient::TlsMode::kAuto;
  if (tls == "off") {
    mode = mailclient::TlsMode::kOff;
  } else if (tls == "starttls") {
    mode = mailclient::TlsMode::kStartTls;
  } else if (tls == "smtps") {
    mode = mailclient::TlsMode::kSmtps;
  } else if (tls != "auto") {
    WriteError("unknown TLS setting \"" + tls + "\" in postrine.ini (use auto, starttls, smtps or off)");
    runtime::SetErrorLevel(kExitConfig);
    return true;
  }

  const std::string verify = runtime::AsciiLower(ini.GetString("Settings", "TLSVerify", "on"));
  if (verify != "on" && verify != "off") {
    WriteError("unknown TLSVerify setting \"" + verify + "\" in postrine.ini (use on or off)");
    runtime::SetErrorLevel(kExitConfig);
    return true;
  }

  mailclient::CSmtp smtp(email, ServerName, PortNumber);
  smtp.Tls(mode);
  smtp.Verify(verify == "on");
  smtp.CaFile(ini.GetString("Settings", "CAFile", ""));
  smtp.TimeoutSeconds(timeout > 0 && timeout < 86400 ? static_cast<int>(timeout) : 60);
  // A user name of one character counts as none, like "??".
  if (UserName.size() > 1 && UserName != "??") {
    smtp.UserName(UserName);
    smtp.PassWord(Password);
    smtp.SecureSMTP(true);
    smtp.Logon();
  }
  if (!smtp.Postrine()) {
    WriteError("error sending mail to " + Recipients + " [" + smtp.ErrorMsg() + "]");
    runtime::SetErrorLevel(ExitCode(smtp.Result()));
  }
  return true;
}
