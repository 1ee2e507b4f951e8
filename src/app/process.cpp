// The command's one job: compose the message from the settings and the
// arguments, hand it to the SMTP client (or to Microsoft Graph), keep it
// in the queue when that fails for now, and report a failed delivery. The
// exit status tells a calling script what happened (sysexits codes).

#include <ctime>
#include <memory>
#include <optional>
#include <utility>

#include "app/call_options.h"
#include "app/delivery.h"
#include "app/exit_codes.h"
#include "app/postrine.h"
#include "app/queue.h"
#include "app/secrets.h"
#include "app/text.h"
#include "mailclient/graph/graph_protocol.h"
#include "mailclient/mime/address.h"
#include "mailclient/graph/graph.h"
#include "mailclient/mime/cemail.h"
#include "mailclient/mime/media_type.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/file_source.h"
#include "runtime/identity.h"
#include "runtime/process.h"

namespace {

// The message identifier as a header wants it: "<left@domain>", unique by
// the process id and random digits, its left side the time stamp's date
// and seconds with any character a dot-atom forbids made a dot.
std::string MessageId(const std::string& stamp, const std::string& typed_sender) {
  // A sender with a display name gives its domain like a bare one.
  mailclient::Address from;
  const std::string sender =
      mailclient::ParseAddress(typed_sender, false, from).empty() ? from.Mailbox(true) : typed_sender;
  std::string left = stamp.substr(0, stamp.find('@'));
  for (char& c : left) {
    if (!mailclient::IsAtext(c, false)) c = '.';
  }
  left.append(".").append(std::to_string(runtime::ProcessId())).append(".").append(runtime::RandomHex(12));
  std::string domain;
  const std::size_t at = sender.rfind('@');
  if (at != std::string::npos) domain = sender.substr(at + 1);
  if (!mailclient::IsDotAtom(domain, false)) domain = runtime::HostName();
  if (!mailclient::IsDotAtom(domain, false)) domain = "localhost";
  std::string cleaned;
  for (char c : left) {
    if (!(c == '.' && (cleaned.empty() || cleaned.back() == '.'))) cleaned += c;
  }
  while (!cleaned.empty() && cleaned.back() == '.') cleaned.pop_back();
  return "<" + cleaned + "@" + domain + ">";
}

bool IsHtmlName(const std::string& name) {
  const std::string lower = runtime::AsciiLower(name);
  return lower.ends_with(".htm") || lower.ends_with(".html");
}

int ExitCode(mailclient::Outcome outcome) {
  switch (outcome) {
    case mailclient::Outcome::kSent: return app::kExitSent;
    case mailclient::Outcome::kBadAddress: return app::kExitBadAddress;
    case mailclient::Outcome::kPermanent: return app::kExitUnavailable;
    case mailclient::Outcome::kTemporary: return app::kExitTempFail;
    case mailclient::Outcome::kConfig: return app::kExitConfig;
  }
  return app::kExitTempFail;
}

// Typed text in a message line, each control character shown as a dot, so
// that the line stays one line.
std::string Shown(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '.';
  }
  return text;
}

struct Refused {
  int code;
  std::string line;
};

// The header lines the options ask for: Reply-To, the priority, the read
// receipt and the "-x" lines in their order. The first that cannot be
// written ends the run with nothing sent.
std::optional<Refused> AddOptionHeaders(mailclient::CEmail& email, const Postrine& app) {
  if (!app.ReplyTo.empty()) {
    mailclient::Address address;
    if (const std::string why = mailclient::ParseAddress(app.ReplyTo, false, address); !why.empty()) {
      return Refused{app::kExitBadAddress,
                     "the reply address \"" + Shown(app.ReplyTo) + "\" cannot be used (" + why + ")"};
    }
    email.ReplyTo(app.ReplyTo);
  }
  std::vector<std::pair<std::string, std::string>> fields;
  if (!app.Priority.empty()) fields = app::PriorityHeaders(app.Priority);
  // RFC 8098: the notice goes to the sender as typed, name and all. A
  // sender that cannot be used is refused as such when the message goes.
  mailclient::Address sender;
  if (app.Receipt && mailclient::ParseAddress(app.Sender, false, sender).empty()) {
    fields.emplace_back("Disposition-Notification-To", app.Sender);
  }
  fields.insert(fields.end(), app.HeaderFields.begin(), app.HeaderFields.end());
  for (const auto& [name, value] : fields) {
    if (const auto why = email.HeaderField(name, value)) return Refused{app::kExitUsage, *why};
  }
  return std::nullopt;
}

// The body and the files that go with it: the text alternative and the
// images of an HTML body, and the attachments. A mail file that cannot be
// read is never sent as an empty message, and no file that cannot be read
// is left out: the run ends before any connection.
std::optional<Refused> AddParts(mailclient::CEmail& email, const Postrine& app) {
  const bool html = app.Html || IsHtmlName(app.MailFileName);
  if (!html && (!app.AltFile.empty() || !app.Embeds.empty())) {
    return Refused{app::kExitUsage, std::string(app.AltFile.empty() ? "-embed" : "-alt") +
                                        " goes with an HTML body: name the mail file .html or add -html"};
  }
  email.Html(html);
  std::string reason;
  // "-" is standard input, kept in a temporary file while it is sent.
  auto body = std::make_shared<runtime::FileSource>();
  const bool read = app.MailFileName == "-" ? body->OpenStandardInput(reason) : body->Open(app.MailFileName, reason);
  if (const auto unread = read ? email.MailBody(body) : std::optional(reason)) {
    return Refused{app::kExitNoInput, "cannot read mail file " + app.MailFileName + " [" + *unread + "]"};
  }
  // Each named file, opened and handed to `add`; the line that says why
  // not, with "what" before its name.
  auto take = [&](const std::string& what, const std::string& name, const auto& add) -> std::optional<Refused> {
    auto file = std::make_shared<runtime::FileSource>();
    const auto unread = file->Open(name, reason) ? add(file) : std::optional(reason);
    if (!unread) return std::nullopt;
    return Refused{app::kExitNoInput, "cannot read " + what + " " + name + " [" + *unread + "]"};
  };
  if (!app.AltFile.empty()) {
    auto add = [&](auto file) { return email.AlternativeText(file); };
    if (auto refused = take("text file", app.AltFile, add)) return refused;
  }
  for (const std::string& name : app.Embeds) {
    if (const auto why = email.ContentIdRefusal(name)) {
      return Refused{app::kExitUsage, "cannot embed " + name + " [" + *why + "]"};
    }
    auto add = [&](auto file) { return email.Embed(name, file, mailclient::MediaType(name)); };
    if (auto refused = take("embedded image", name, add)) return refused;
  }
  for (const std::string& name : app.Attachments) {
    auto add = [&](auto file) { return email.Attach(name, file, mailclient::MediaType(name)); };
    if (auto refused = take("attachment", name, add)) return refused;
  }
  return std::nullopt;
}

// The password and the client secret that this run uses, from where the
// settings keep them; the line that says why one cannot be had (78).
std::optional<Refused> ResolveSecrets(Postrine& app) {
  const app::MailOptions& options = app.Options;
  auto refused = [](const std::string& why) { return Refused{app::kExitConfig, why}; };
  std::string secret;
  if (app::UserNameGiven(app.UserName) && !options.UsesOAuth()) {
    if (!options.password_command.empty()) {
      if (!app.Password.empty() && app.Password != app::kNotSet) {
        return refused("Password and PasswordCommand are both set in postrine.ini (use one of them)");
      }
      if (const auto why = app::CommandSecret(options.password_command, options.timeout_seconds, secret)) {
        return refused(*why);
      }
    } else if (const auto why = app::ResolveSecret("Password", app.Password, secret)) {
      return refused(*why);
    }
    app.Password = secret;
  }
  if (!options.oauth_token_url.empty() && !options.oauth_client_secret.empty()) {
    if (const auto why = app::ResolveSecret("OAuthClientSecret", options.oauth_client_secret, secret)) {
      return refused(*why);
    }
    app.Options.oauth_client_secret = secret;
  }
  return std::nullopt;
}

// Whether Graph takes the message in one request: a queued message is one
// whole, its attachments inside it, with no draft to upload them to.
bool OneGraphRequest(const mailclient::CEmail& email) {
  const mailclient::BodyPlan plan = email.Plan(false);
  const std::string header = email.Header(plan, 0, false, true);
  return mailclient::Base64Length(email.DataSize(plan, header)) <= mailclient::kGraphLargestRequest;
}

// The queue's pass, each message sent as the settings say.
app::QueuePass FlushQueue(Postrine& app) {
  return app::FlushQueue(
      app.Options.queue, app.Profile, app.Options.queue_max_age_hours,
      [&app](const mailclient::CEmail& email, const app::Envelope& envelope) {
        return Deliver(email, app, envelope.dsn_notify, envelope.dsn_envid);
      },
      [&app](const std::string& line) { app.ConsoleWindow.WriteLine(line); },
      [&app](const std::string& line) { app.WriteError(line); });
}

}  // namespace

bool Postrine::Process() {
  const runtime::Activation activation("POSTRINE:PROCESS", __LINE__);
  mailclient::CEmail email;
  email.FromAddress(Sender);
  email.Subject(Subject);
  const std::string message_id = MessageId(GetTimeStamp(), Sender);
  email.Cargo("Message-Id: " + message_id + "\r\n" + "X-Mailer: " + app::kProgramName + "\r\n");
  std::vector<std::string> passed_over;
  email.DestList(Text2Array(Recipients, ",", "\"", &passed_over));
  email.CcList(Text2Array(Cc, ",", "\"", &passed_over));
  email.BccList(Text2Array(Bcc, ",", "\"", &passed_over));

  // A broken configuration is reported as such, before any work is done.
  if (!Options.problem.empty()) {
    WriteError(Options.problem);
    runtime::SetErrorLevel(app::kExitConfig);
    return true;
  }
  if (const auto refused = ResolveSecrets(*this)) {
    WriteError(refused->line);
    runtime::SetErrorLevel(refused->code);
    return true;
  }
  if (QueueOnly) {
    if (Options.queue.empty()) {
      WriteError("-q delivers the queue, and postrine.ini names none (set Queue to a directory)");
      runtime::SetErrorLevel(app::kExitConfig);
    } else if (const app::QueuePass pass = FlushQueue(*this); pass.given_up || pass.refused) {
      runtime::SetErrorLevel(app::kExitUnavailable);
    }
    return true;
  }
  if (const auto refused = AddOptionHeaders(email, *this)) {
    WriteError(refused->line);
    runtime::SetErrorLevel(refused->code);
    return true;
  }

  if (const auto refused = AddParts(email, *this)) {
    WriteError(refused->line);
    runtime::SetErrorLevel(refused->code);
    return true;
  }

  // A piece that the split does not give back whole ("ab"@x.io) would be
  // sent to what is left of it: refused before any connection.
  if (!passed_over.empty()) {
    std::vector<mailclient::Refusal> refused;
    for (const std::string& piece : passed_over) refused.push_back({piece, "text after a closing quote"});
    WriteError("error sending mail to " + RecipientText() + " [" + mailclient::RecipientRefusal(refused) + "]");
    runtime::SetErrorLevel(app::kExitBadAddress);
    return true;
  }

  // Graph takes attachments up to its limit only: refused before any
  // request.
  if (const auto why = Options.graph ? mailclient::GraphAttachmentRefusal(email) : std::nullopt) {
    WriteError("error sending mail to " + RecipientText() + " [" + *why + "]");
    runtime::SetErrorLevel(app::kExitNoInput);
    return true;
  }
  // What is queued goes first, as it would have had it been sent then.
  // When the server fails it for now, the new message joins it at once:
  // the queue never holds it up for longer than its own try would take.
  const bool queue = !Options.queue.empty();
  const app::QueuePass pass = queue ? FlushQueue(*this) : app::QueuePass{};
  // The envelope identifier is the message's own, without its brackets.
  const std::string envid = Dsn.empty() ? "" : message_id.substr(1, message_id.size() - 2);
  const std::optional<mailclient::Failure> failure =
      pass.stopped.empty() ? Deliver(email, *this, Dsn, envid)
                           : mailclient::Failure{mailclient::Outcome::kTemporary, pass.stopped};
  if (!failure) return true;
  if (failure->kind == mailclient::Outcome::kTemporary && queue) {
    app::Envelope envelope{Sender, {}, {}, Dsn, envid, static_cast<std::int64_t>(std::time(nullptr)),
                           runtime::AsciiLower(Profile)};
    for (const auto* list : {&email.DestList(), &email.CcList(), &email.BccList()}) {
      for (const std::string& piece : *list) {
        const std::string_view address = runtime::TrimBlanks(piece);
        if (!address.empty()) (list == &email.BccList() ? envelope.bcc : envelope.recipients).emplace_back(address);
      }
    }
    std::string file;
    const auto unqueued = Options.graph && !OneGraphRequest(email)
                              ? std::optional<std::string>("not queued: through Graph a queued message goes in one "
                                                           "request of at most 4 MB, and this one is larger")
                              : app::Enqueue(Options.queue, email, envelope, file);
    if (!unqueued) {
      ConsoleWindow.WriteLine("queued for a later try: " + file + " [" + failure->text + "]");
      return true;
    }
    WriteError("error sending mail to " + RecipientText() + " [" + failure->text + "]");
    WriteError(*unqueued);
    runtime::SetErrorLevel(app::kExitTempFail);
    return true;
  }
  WriteError("error sending mail to " + RecipientText() + " [" + failure->text + "]");
  runtime::SetErrorLevel(ExitCode(failure->kind));
  return true;
}
