// Preparing a run: the settings beside the executable, then the command
// line. Every refusal writes its own lines and ends the run.
#include "app/call_options.h"
#include "app/exit_codes.h"
#include "app/options.h"
#include "app/postrine.h"
#include "app/secrets.h"
#include "app/text.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/places.h"
#include "runtime/process.h"
#include "runtime/user_secrets.h"
#include "runtime/whole_file.h"
#include "settings/ini_file_spec.h"

namespace {

// The settings of this run: those of [Settings], whose five keys a first
// run writes, and over them the keys of the section given with -profile.
bool ReadSettings(Postrine& app, const std::string& profile) {
  IniFileSpec ini(app::SettingsFileName());
  const struct {
    const char* key;
    std::string* value;
    const char* fallback;
  } keys[] = {{"ServerName", &app.ServerName, app::kNotSet},
              {"UserName", &app.UserName, app::kNotSet},
              {"Password", &app.Password, app::kNotSet},
              {"Sender", &app.Sender, app::kDefaultSender}};
  for (const auto& k : keys) *k.value = ini.GetStringCheck(app::kSettingsSection, k.key, k.fallback);
  std::int64_t port = ini.GetIntCheck(app::kSettingsSection, "PortNumber", 25);
  if (!profile.empty()) {
    std::string text, reason;
    if (!runtime::ReadWholeFile(ini.FullPath(), text, reason) || !app::HasSection(text, profile)) {
      app.WriteError("no section [" + profile + "] in postrine.ini for -profile " + profile);
      runtime::SetErrorLevel(app::kExitConfig);
      return false;
    }
    for (const auto& k : keys) *k.value = ini.GetString(profile, k.key, *k.value);
    port = ini.GetInt(profile, "PortNumber", port);
  }
  app.PortNumber = static_cast<std::int32_t>(port);
  app.Options = app::ReadMailOptions(ini, profile);
  // A queue named relative to nothing is beside the settings file, as a
  // scheduled task starts in a folder of its own.
  std::string& queue = app.Options.queue;
  const bool absolute = queue.starts_with('/') || queue.starts_with('\\') || (queue.size() > 1 && queue[1] == ':');
  if (!queue.empty() && !absolute) queue = GetPathFromFileName(ini.FullPath()) + runtime::PathSeparator() + queue;
  // A port that wraps to another when cut to 32 bits is refused as it was
  // written.
  if (const std::string problem = app::PortProblem(port); !problem.empty()) app.Options.problem = problem;
  return true;
}

// Takes the options of `call`; the recipients of its recipient files join
// the others. False when one of those files cannot be read.
bool TakeCall(Postrine& app, const app::Call& call) {
  app.Subject = call.subject;
  app.MailFileName = call.mail_file;
  app.Recipients = call.recipients;
  app.Attachments = call.attachments;
  app.Cc = call.cc;
  app.Bcc = call.bcc;
  app.ReplyTo = call.reply_to;
  app.Priority = call.priority;
  app.Receipt = call.receipt;
  app.Html = call.html;
  app.AltFile = call.alt_file;
  app.Embeds = call.embeds;
  app.Dsn = call.dsn;
  app.HeaderFields = call.header_fields;
  for (const std::string& name : call.recipient_files) {
    std::string text, reason;
    if (!runtime::ReadWholeFile(name, text, reason)) {
      app.WriteError("cannot read recipient file " + name + " [" + reason + "]");
      runtime::SetErrorLevel(app::kExitNoInput);
      return false;
    }
    for (const std::string& line : app::RecipientFileLines(text)) {
      if (!app.Recipients.empty()) app.Recipients += ',';
      app.Recipients += line;
    }
  }
  return true;
}

// "postrine -protect": reads a secret without showing it and prints the
// value that holds it protected for this user, to paste into the settings.
void Protect(Postrine& app) {
  if (!runtime::HasUserSecrets()) {
    app.WriteError("-protect protects a secret with Windows' DPAPI, which this system does not have "
                   "(use PasswordCommand to keep the password out of postrine.ini)");
    runtime::SetErrorLevel(app::kExitUsage);
    return;
  }
  app.ConsoleWindow.WriteLine("Type the secret (it is not shown) and press Enter:");
  std::string secret, reason, value;
  if (!runtime::ReadHiddenLine(secret, reason) || secret.empty()) {
    app.WriteError("no secret was typed" + (reason.empty() ? std::string() : " (" + reason + ")"));
    runtime::SetErrorLevel(app::kExitNoInput);
    return;
  }
  if (const auto why = app::ProtectedValue(secret, value)) {
    app.WriteError(*why);
    runtime::SetErrorLevel(app::kExitConfig);
    return;
  }
  app.ConsoleWindow.WriteLine("Paste this as the value of Password or OAuthClientSecret in postrine.ini");
  app.ConsoleWindow.WriteLine("(only this user on this machine can read it):");
  app.ConsoleWindow.WriteLine(value);
}

}  // namespace

std::string app::SettingsFileName() {
  const runtime::Activation activation("SETTINGSFILENAME", __LINE__);
  const char sep = runtime::PathSeparator()[0];
  std::string dir = GetPathFromFileName(GetExeFileName());
  if (dir.empty() || dir.back() != sep) dir += sep;
  return dir + "postrine.ini";
}

bool Postrine::Initialize() {
  const runtime::Activation activation("POSTRINE:INITIALIZE", __LINE__);
  const std::string cmd = runtime::CommandLine();
  const bool is_text = runtime::CommandLineIsText();
  const std::vector<std::string> args = is_text ? Text2Array(cmd, " ", "\"") : std::vector<std::string>();
  // A call the usage line refuses; it needs no settings.
  if (args.size() == 2 && runtime::AsciiLower(args[1]) == "-protect") {
    Protect(*this);
    return false;
  }
  const app::CallParse parsed = args.size() >= 3 ? app::ParseCall(args) : app::CallParse();
  // Only a call that needs the extended reading can name a profile, and its
  // server counts for the check below.
  if (parsed.call) Profile = parsed.call->profile;
  if (!ReadSettings(*this, Profile)) return false;
  StartTrace();

  // A missing server is the one thing reported, whatever the arguments.
  // Graph needs none: its URL has a default.
  if (ServerName == app::kNotSet && !Options.graph) {
    WriteError("no server given - quit");
    runtime::SetErrorLevel(app::kExitConfig);
    return false;
  }

  if (!is_text) {
    WriteError("the command line holds characters that are no valid Unicode text");
    runtime::SetErrorLevel(app::kExitUsage);
    return false;
  }
  auto refuse = [&](const char* label) {
    OutputUsage();
    ConsoleWindow.WriteLine(label + cmd);
    runtime::SetErrorLevel(app::kExitUsage);
    return false;
  };
  // A call the usage line refuses, for a scheduled task.
  if (args.size() == 2 && runtime::AsciiLower(args[1]) == "-q") {
    QueueOnly = true;
    return true;
  }
  if (cmd.empty()) return refuse("(1)Call was:");
  if (args.size() < 3) return refuse("(2)Call was:");
  if (!parsed.call && parsed.why.empty()) return refuse("(3)Call was:");
  if (!parsed.call) {
    WriteError(parsed.why);
    runtime::SetErrorLevel(app::kExitUsage);
    return false;
  }
  if (!TakeCall(*this, *parsed.call)) return false;

  ConsoleWindow.WriteLine("will send " + MailFileName + " to " + RecipientText());
  return true;
}

std::string Postrine::RecipientText() const {
  std::string text = Recipients;
  if (!Cc.empty()) text += " cc " + Cc;
  if (!Bcc.empty()) text += " bcc " + Bcc;
  return text;
}
