// The command's one job: compose the message from the settings and the
// arguments, hand it to the SMTP client (or to Microsoft Graph), keep it
// in the queue when that fails for now, and report a failed delivery. The
// exit status tells a calling script what happened (sysexits codes).

#include <algorithm>
#include <ctime>
#include <memory>
#include <optional>
#include <utility>

#include "app/call_options.h"
#include "app/exit_codes.h"
#include "app/postrine.h"
#include "app/queue.h"
#include "app/secrets.h"
#include "app/text.h"
#include "mailclient/mime/address.h"
#include "mailclient/graph/graph.h"
#include "mailclient/mime/cemail.h"
#include "mailclient/smtp/csmtp.h"
#include "mailclient/mime/media_type.h"
#include "mailclient/oauth/oauth.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/file_source.h"
#include "runtime/places.h"
#include "runtime/queue_files.h"
#include "runtime/whole_file.h"
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

// The token cache: "postrine.token" beside the settings file.
std::string TokenCacheFileName() {
  const std::string settings = app::SettingsFileName();
  return settings.substr(0, settings.size() - std::string_view("postrine.ini").size()) + "postrine.token";
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

// What became of one delivery.
struct Delivery {
  mailclient::Outcome outcome = mailclient::Outcome::kSent;
  std::string reason;
};

// The token source of the OAuth settings, its events in the trace. Graph's
// scope is the default when none is set.
std::unique_ptr<mailclient::OAuthTokens> MakeTokens(const Postrine& app) {
  const app::MailOptions& options = app.Options;
  std::string scope = options.oauth_scope;
  if (scope.empty() && options.graph) scope = mailclient::kGraphDefaultScope;
  mailclient::OAuthSettings oauth{options.oauth_token_url, options.oauth_client_id, options.oauth_client_secret,
                                  scope, options.oauth_token_command, options.verify, options.ca_file,
                                  options.timeout_seconds * 1000, TokenCacheFileName()};
  oauth.client_certificate = options.oauth_client_certificate;
  auto tokens = std::make_unique<mailclient::OAuthTokens>(std::move(oauth));
  if (app.Trace) {
    // Through a trace of its own, which shows control bytes as dots.
    auto trace = std::make_shared<mailclient::ProtocolTrace>(app.Trace->Sink());
    tokens->Trace([trace](std::string_view event) { trace->Event(event); });
  }
  return tokens;
}

// Microsoft Graph in SMTP's place: the same message, the same outcomes.
Delivery DeliverThroughGraph(const mailclient::CEmail& email, Postrine& app) {
  std::unique_ptr<mailclient::OAuthTokens> tokens = MakeTokens(app);
  mailclient::GraphSettings settings{app.Options.graph_url, app.Sender, app.Options.verify, app.Options.ca_file,
                                     app.Options.timeout_seconds * 1000};
  mailclient::GraphSender graph(email, std::move(settings), *tokens);
  if (app.Trace) {
    auto trace = std::make_shared<mailclient::ProtocolTrace>(app.Trace->Sink());
    graph.Trace([trace](std::string_view event) { trace->Event(event); });
  }
  if (const auto failure = graph.Send(std::time(nullptr))) return {failure->kind, failure->text};
  return {};
}

// Sends `email` through the server of the settings (or Graph), asking for
// the delivery notices of `dsn` (none when empty) under the identifier
// `envid`.
Delivery Deliver(const mailclient::CEmail& email, Postrine& app, const std::string& dsn, const std::string& envid) {
  const app::MailOptions& options = app.Options;
  if (options.graph) return DeliverThroughGraph(email, app);
  mailclient::CSmtp smtp(email, app.ServerName, app.PortNumber);
  if (app.Trace) smtp.Trace(app.Trace->Sink());
  smtp.Tls(options.tls);
  smtp.Verify(options.verify);
  smtp.CaFile(options.ca_file);
  smtp.TimeoutSeconds(options.timeout_seconds);
  if (!dsn.empty()) smtp.Dsn(dsn, envid);
  // With a token source the logon sends a token and never the password.
  std::unique_ptr<mailclient::OAuthTokens> tokens;
  if (options.UsesOAuth()) {
    tokens = MakeTokens(app);
    smtp.BearerTokens(tokens.get());
  }
  if (app::UserNameGiven(app.UserName)) {
    smtp.UserName(app.UserName);
    if (!tokens) smtp.PassWord(app.Password);
    smtp.SecureSMTP(true);
    smtp.Logon();
  }
  if (smtp.Postrine()) return {};
  return {smtp.Result(), smtp.ErrorMsg()};
}

std::string InQueue(const std::string& queue, const std::string& name) {
  const char separator = runtime::PathSeparator()[0];
  return queue.empty() || queue.back() == separator || queue.back() == '/' ? queue + name
                                                                            : queue + separator + name;
}

// The last reason a queued message could not be sent, kept beside it.
std::string LastReason(const std::string& path) {
  std::string text, reason;
  return runtime::ReadWholeFile(path + ".reason", text, reason, 4096) ? text : "no try reached the server";
}

// Gives up the locked queued message `name`: into the folder "failed" with
// its last reason beside it. The line that says so.
std::string GiveUp(const std::string& queue, const std::string& name, runtime::QueueFileLock& lock,
                   const std::string& why) {
  const std::string failed = InQueue(queue, "failed");
  std::string reason;
  const std::string to = InQueue(failed, name);
  if (!runtime::MakeDirectory(failed, reason) || !lock.MoveTo(to, reason)) {
    return "cannot move the queued message " + InQueue(queue, name) + " to " + failed + " [" + reason + "]";
  }
  runtime::NewQueueFile note;
  if (note.Create(to + ".reason.tmp", reason) && note.Write(why + "\r\n", reason)) note.Commit(to + ".reason", reason);
  runtime::RemoveFile(InQueue(queue, name) + ".reason");
  return "given up: " + to + " [" + why + "]";
}

// What a pass over the queue came to.
struct QueuePass {
  bool given_up = false;
  /// Why it stopped at a message that failed for now; empty when it did not.
  std::string stopped;
};

// Delivers what the queue holds, oldest first, each message under a lock
// of its own, so that two runs never send the same one; a message leaves
// the queue only when the server took it. Stops at the first that fails
// for now: the next would meet the same server.
QueuePass FlushQueue(Postrine& app) {
  const runtime::Activation activation("FLUSHQUEUE", __LINE__);
  const std::string& queue = app.Options.queue;
  std::vector<std::string> names;
  std::string reason;
  QueuePass pass;
  if (!runtime::ListDirectory(queue, names, reason)) return pass;  // nothing queued yet
  std::sort(names.begin(), names.end());
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t oldest = now - std::int64_t{3600} * app.Options.queue_max_age_hours;
  for (const std::string& name : names) {
    const std::string path = InQueue(queue, name);
    runtime::QueueFileLock lock;
    // A temporary file no writer holds was left by a run that ended.
    if (app::IsTemporaryName(name)) {
      if (lock.Take(path, reason)) lock.Remove(reason);
      continue;
    }
    if (!app::IsMessageName(name) || !lock.Take(path, reason)) continue;
    app::Envelope envelope;
    std::size_t offset = 0;
    Delivery delivery{mailclient::Outcome::kPermanent, "it is no message that postrine queued"};
    {
      auto file = std::make_shared<runtime::FileSource>();
      std::string lead(64 * 1024, '\0');
      long long got = file->Open(path, reason) ? file->Read(lead.data(), lead.size(), reason) : -1;
      if (got < 0) continue;  // gone meanwhile, or unreadable: left for later
      lead.resize(static_cast<std::size_t>(got));
      offset = app::ReadEnvelope(lead, envelope);
      if (offset > 0 && envelope.queued_at < oldest) {
        delivery = {mailclient::Outcome::kPermanent, "older than QueueMaxAge " +
                                                         std::to_string(app.Options.queue_max_age_hours) +
                                                         " hours; last: " + LastReason(path)};
      } else if (offset > 0) {
        mailclient::CEmail email;
        email.FromAddress(envelope.sender);
        email.DestList(envelope.recipients);
        email.BccList(envelope.bcc);
        const auto unread = email.StoredMessage(file, offset);
        delivery = unread ? Delivery{mailclient::Outcome::kTemporary, *unread}
                          : Deliver(email, app, envelope.dsn_notify, envelope.dsn_envid);
      }
    }
    if (delivery.outcome == mailclient::Outcome::kSent) {
      if (!lock.Remove(reason)) app.WriteError("cannot remove the sent message " + path + " [" + reason + "]");
      runtime::RemoveFile(path + ".reason");
      app.ConsoleWindow.WriteLine("sent from the queue: " + path);
      continue;
    }
    if (delivery.outcome == mailclient::Outcome::kTemporary) {
      runtime::NewQueueFile note;
      if (note.Create(path + ".reason.tmp", reason) && note.Write(delivery.reason, reason)) {
        note.Commit(path + ".reason", reason);
      }
      app.ConsoleWindow.WriteLine("still queued: " + path + " [" + delivery.reason + "]");
      pass.stopped = delivery.reason;
      break;
    }
    app.WriteError(GiveUp(queue, name, lock, delivery.reason));
    pass.given_up = true;
  }
  return pass;
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
    } else if (FlushQueue(*this).given_up) {
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
  const QueuePass pass = queue ? FlushQueue(*this) : QueuePass{};
  // The envelope identifier is the message's own, without its brackets.
  const std::string envid = Dsn.empty() ? "" : message_id.substr(1, message_id.size() - 2);
  const Delivery delivery = pass.stopped.empty() ? Deliver(email, *this, Dsn, envid)
                                                 : Delivery{mailclient::Outcome::kTemporary, pass.stopped};
  if (delivery.outcome == mailclient::Outcome::kSent) return true;
  if (delivery.outcome == mailclient::Outcome::kTemporary && queue) {
    app::Envelope envelope{Sender, {}, {}, Dsn, envid, static_cast<std::int64_t>(std::time(nullptr))};
    for (const auto* list : {&email.DestList(), &email.CcList(), &email.BccList()}) {
      for (const std::string& piece : *list) {
        const std::string_view address = runtime::TrimBlanks(piece);
        if (!address.empty()) (list == &email.BccList() ? envelope.bcc : envelope.recipients).emplace_back(address);
      }
    }
    std::string file;
    const auto unqueued = app::Enqueue(Options.queue, email, envelope, file);
    if (!unqueued) {
      ConsoleWindow.WriteLine("queued for a later try: " + file + " [" + delivery.reason + "]");
      return true;
    }
    WriteError("error sending mail to " + RecipientText() + " [" + delivery.reason + "]");
    WriteError(*unqueued);
    runtime::SetErrorLevel(app::kExitTempFail);
    return true;
  }
  WriteError("error sending mail to " + RecipientText() + " [" + delivery.reason + "]");
  runtime::SetErrorLevel(ExitCode(delivery.outcome));
  return true;
}
