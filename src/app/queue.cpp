#include "app/queue.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/identity.h"
#include "runtime/places.h"
#include "runtime/file_source.h"
#include "runtime/queue_files.h"
#include "runtime/whole_file.h"

namespace app {

namespace {

constexpr char kMagic[] = "X-Postrine-Queue: 1";
constexpr char kMessageSuffix[] = ".mail";
constexpr char kTemporarySuffix[] = ".tmp";
// Seconds after which a temporary file no writer holds counts as left.
constexpr int kLeftAfter = 600;
// The most an envelope may take: some 30,000 recipients.
constexpr std::size_t kMostEnvelope = 1024 * 1024;

void (*step_hook)(const char*) = nullptr;
void Step(const char* step) {
  if (step_hook != nullptr) step_hook(step);
}

bool OneLine(std::string_view value) { return value.find_first_of("\r\n") == std::string_view::npos; }

// The path of `name` in the directory `queue`.
std::string InQueue(const std::string& queue, const std::string& name) {
  const char separator = runtime::PathSeparator()[0];
  return queue.empty() || queue.back() == separator || queue.back() == '/' ? queue + name
                                                                            : queue + separator + name;
}

// The first bytes of a queue file, up to the end of its envelope or the
// bound on one. False when it cannot be read.
bool ReadLead(runtime::FileSource& file, std::string& lead) {
  std::string reason;
  lead.assign(kMostEnvelope, '\0');
  std::size_t got = 0;
  while (got < lead.size()) {
    const long long n = file.Read(lead.data() + got, lead.size() - got, reason);
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
    if (std::string_view(lead.data(), got).find("\r\n\r\n") != std::string_view::npos) break;
  }
  lead.resize(got);
  return true;
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
  if (note.Create(to + ".reason.tmp", reason) && note.Write(why + "\r\n", reason)) {
    note.Commit(to + ".reason", reason, true);
  }
  runtime::RemoveFile(InQueue(queue, name) + ".reason");
  return "given up: " + to + " [" + why + "]";
}

}  // namespace


void SetQueueStepHook(void (*hook)(const char* step)) { step_hook = hook; }

std::string EnvelopeText(const Envelope& envelope) {
  std::string text = std::string(kMagic) + "\r\nQueued: " + std::to_string(envelope.queued_at) +
                     "\r\nSender: " + envelope.sender + "\r\n";
  for (const std::string& r : envelope.recipients) text += "Recipient: " + r + "\r\n";
  for (const std::string& r : envelope.bcc) text += "Bcc: " + r + "\r\n";
  if (!envelope.dsn_notify.empty()) text += "Dsn-Notify: " + envelope.dsn_notify + "\r\n";
  if (!envelope.dsn_envid.empty()) text += "Dsn-Envid: " + envelope.dsn_envid + "\r\n";
  if (!envelope.profile.empty()) text += "Profile: " + envelope.profile + "\r\n";
  return text + "\r\n";
}

std::size_t ReadEnvelope(std::string_view text, Envelope& envelope) {
  const runtime::Activation activation("READENVELOPE", __LINE__);
  envelope = Envelope{};
  const std::size_t end = text.find("\r\n\r\n");
  if (!text.starts_with(std::string(kMagic) + "\r\n") || end == std::string_view::npos) return 0;
  bool dated = false;
  for (std::size_t at = text.find("\r\n") + 2; at < end + 2;) {
    const std::size_t line_end = text.find("\r\n", at);
    const std::string_view line = text.substr(at, line_end - at);
    at = line_end + 2;
    const std::size_t colon = line.find(": ");
    if (colon == std::string_view::npos) return 0;
    const std::string_view key = line.substr(0, colon);
    const std::string value(line.substr(colon + 2));
    if (key == "Queued") {
      dated = !value.empty() && value.size() < 19 && value.find_first_not_of("0123456789") == std::string::npos;
      if (dated) envelope.queued_at = std::stoll(value);
    } else if (key == "Sender") {
      envelope.sender = value;
    } else if (key == "Recipient") {
      envelope.recipients.push_back(value);
    } else if (key == "Bcc") {
      envelope.bcc.push_back(value);
    } else if (key == "Dsn-Notify") {
      envelope.dsn_notify = value;
    } else if (key == "Dsn-Envid") {
      envelope.dsn_envid = value;
    } else if (key == "Profile") {
      envelope.profile = value;
    }
  }
  return dated && !(envelope.recipients.empty() && envelope.bcc.empty()) ? end + 4 : 0;
}

std::string QueueFileName(std::int64_t at) {
  // The microseconds keep messages of one second in their order.
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count() %
                      1000000;
  char time[40];
  std::snprintf(time, sizeof time, "%012lld.%06lld", static_cast<long long>(at), static_cast<long long>(micros));
  return time + ("-" + runtime::RandomHex(16)) + kMessageSuffix;
}

bool IsMessageName(std::string_view name) {
  return name.size() > 30 && name.ends_with(kMessageSuffix) && runtime::IsAsciiDigit(name.front());
}

bool IsTemporaryName(std::string_view name) {
  return name.size() > 30 && name.ends_with(kTemporarySuffix) && runtime::IsAsciiDigit(name.front());
}

std::optional<std::string> Enqueue(const std::string& queue, const mailclient::CEmail& email,
                                   const Envelope& envelope, std::string& file) {
  const runtime::Activation activation("ENQUEUE", __LINE__);
  if (!OneLine(envelope.sender)) return "the sender holds a line break";
  for (const auto* list : {&envelope.recipients, &envelope.bcc}) {
    for (const std::string& r : *list) {
      if (!OneLine(r)) return "a recipient holds a line break";
    }
  }
  if (!OneLine(envelope.profile)) return "the profile holds a line break";
  if (EnvelopeText(envelope).size() > kMostEnvelope) return "its envelope is larger than the queue takes (1 MiB)";
  std::string reason;
  if (!runtime::MakeDirectory(queue, reason)) return "cannot make the queue " + queue + " [" + reason + "]";
  file = InQueue(queue, QueueFileName(envelope.queued_at));
  runtime::NewQueueFile out;
  if (!out.Create(file + ".tmp", reason)) return "cannot write into the queue " + queue + " [" + reason + "]";
  Step("created");
  // Any server can take it: 7 bits, and domains as A-labels.
  const mailclient::BodyPlan plan = email.Plan(false);
  const std::string header = email.Header(plan, static_cast<std::time_t>(envelope.queued_at));
  bool half = false;
  const bool written = out.Write(EnvelopeText(envelope), reason) &&
                       email.WriteMessage(plan, header, [&](std::string_view chunk) {
                         if (!out.Write(chunk, reason)) return false;
                         if (!half) Step("half");
                         half = true;
                         return true;
                       });
  if (!written) {
    return "cannot write into the queue " + queue + " [" + (reason.empty() ? email.ReadError() : reason) + "]";
  }
  Step("written");
  if (!out.Commit(file, reason)) return "cannot write into the queue " + queue + " [" + reason + "]";
  Step("committed");
  return std::nullopt;
}

QueuePass FlushQueue(const std::string& queue, const std::string& profile, int max_age_hours, const QueueSender& send,
                     const std::function<void(const std::string&)>& say,
                     const std::function<void(const std::string&)>& complain) {
  const runtime::Activation activation("FLUSHQUEUE", __LINE__);
  std::vector<std::string> names;
  std::string reason;
  QueuePass pass;
  if (!runtime::ListDirectory(queue, names, reason)) return pass;  // nothing queued yet
  std::sort(names.begin(), names.end());
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t oldest = now - std::int64_t{3600} * max_age_hours;
  for (const std::string& name : names) {
    const std::string path = InQueue(queue, name);
    runtime::QueueFileLock lock;
    // A temporary file that no writer holds and that has not grown for a
    // while was left by a run that ended.
    if (app::IsTemporaryName(name)) {
      if (lock.Take(path, reason) && lock.OlderThan(kLeftAfter)) lock.Remove(reason);
      continue;
    }
    if (!app::IsMessageName(name) || !lock.Take(path, reason)) continue;
    app::Envelope envelope;
    std::size_t offset = 0;
    std::optional<mailclient::Failure> failure =
        mailclient::Failure{mailclient::Outcome::kPermanent, "it is no message that postrine queued", true};
    {
      auto file = std::make_shared<runtime::FileSource>();
      std::string lead;
      if (!file->Open(path, reason) || !ReadLead(*file, lead)) continue;  // gone meanwhile: left for later
      offset = app::ReadEnvelope(lead, envelope);
      // Another profile's message goes with that profile's server.
      if (offset > 0 && envelope.profile != runtime::AsciiLower(profile)) continue;
      if (offset > 0 && envelope.queued_at < oldest) {
        failure = mailclient::Failure{mailclient::Outcome::kPermanent,
                                      "older than QueueMaxAge " + std::to_string(max_age_hours) +
                                          " hours; last: " + LastReason(path),
                                      true};
      } else if (offset > 0) {
        mailclient::CEmail email;
        email.FromAddress(envelope.sender);
        email.DestList(envelope.recipients);
        email.BccList(envelope.bcc);
        const auto unread = email.StoredMessage(file, offset);
        failure = unread ? mailclient::Failure{mailclient::Outcome::kTemporary, *unread, true} : send(email, envelope);
      }
    }
    if (!failure) {
      if (!lock.Remove(reason)) complain("cannot remove the sent message " + path + " [" + reason + "]");
      runtime::RemoveFile(path + ".reason");
      say("sent from the queue: " + path);
      continue;
    }
    // A refusal of the message itself gives it up. What the server, the
    // connection or the logon does to every message (a wrong password, an
    // expired certificate) leaves the queue as it is and ends the pass;
    // what fails for now for this message alone lets the next one go.
    const bool temporary = failure->kind == mailclient::Outcome::kTemporary;
    if (failure->own && !temporary) {
      complain(GiveUp(queue, name, lock, failure->text));
      pass.given_up = true;
      continue;
    }
    runtime::NewQueueFile note;
    if (note.Create(path + ".reason.tmp", reason) && note.Write(failure->text, reason)) {
      note.Commit(path + ".reason", reason, true);
    }
    say("still queued: " + path + " [" + failure->text + "]");
    if (failure->own) continue;
    if (temporary) pass.stopped = failure->text;
    pass.refused = !temporary;
    break;
  }
  return pass;
}

}  // namespace app
