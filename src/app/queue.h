// The mail queue of the Queue setting. A message that could not be sent
// for now is kept there whole, with its envelope, in a file of its own:
// written under a temporary name, flushed and renamed, readable by its
// owner alone. A later run delivers it, oldest first, each under a lock
// taken without waiting, and removes it only after the server took it. A
// message older than QueueMaxAge goes to the "failed" folder inside the
// queue, with the last reason it could not be sent.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mailclient/mime/cemail.h"
#include "mailclient/outcome.h"

namespace app {

/// Where a queued message goes, kept before its bytes.
struct Envelope {
  std::string sender;                   // as Sender gives it
  std::vector<std::string> recipients;  // the To and Cc pieces as typed
  std::vector<std::string> bcc;         // the Bcc pieces
  std::string dsn_notify;               // as CSmtp::Dsn takes them
  std::string dsn_envid;
  std::int64_t queued_at = 0;           // seconds since 1970
  std::string profile;                  // the -profile it was sent with, in lower case
};

/// The envelope as a queue file starts with it, ended by an empty line.
std::string EnvelopeText(const Envelope& envelope);
/// The envelope of a queue file that starts with `text`: the length of the
/// envelope, where the message starts; 0 when it is none.
std::size_t ReadEnvelope(std::string_view text, Envelope& envelope);

/// The name of a message file queued at `at`: names sort oldest first.
std::string QueueFileName(std::int64_t at);
/// Whether `name` (no path) is a message file's, a temporary one's (of a
/// message or of its last reason) or neither.
bool IsMessageName(std::string_view name);
bool IsTemporaryName(std::string_view name);

/// Test builds only: called at each step of writing a queue file
/// ("created", "half", "written", "committed").
void SetQueueStepHook(void (*hook)(const char* step));

/// Writes `email`, composed for any server (7 bits, addresses as
/// A-labels), with `envelope` into the queue directory `queue` (made when
/// missing): the file's path in `file`, or the reason.
std::optional<std::string> Enqueue(const std::string& queue, const mailclient::CEmail& email,
                                   const Envelope& envelope, std::string& file);

/// What a pass over the queue came to.
struct QueuePass {
  bool given_up = false;
  /// Why it stopped at a message that failed for now; empty when it did not.
  std::string stopped;
  /// It stopped where the server, the connection or the logon refused for
  /// good what any message would need (a wrong password, a certificate).
  bool refused = false;
};

/// Sends a queued message: nothing when the server took it, else why not.
using QueueSender =
    std::function<std::optional<mailclient::Failure>(const mailclient::CEmail& email, const Envelope& envelope)>;

/// Delivers what `queue` holds for `profile` through `send`, oldest first,
/// each message under a lock of its own, so that two runs never send the
/// same one; a message leaves the queue only when the server took it, one
/// older than `max_age_hours` or refused for good goes to "failed". A
/// failure of the server, the connection or the logon ends the pass (the
/// next would meet it too); one of a message alone lets the next go. Each
/// line for the user goes to `say`, each error line to `complain`.
QueuePass FlushQueue(const std::string& queue, const std::string& profile, int max_age_hours, const QueueSender& send,
                     const std::function<void(const std::string&)>& say,
                     const std::function<void(const std::string&)>& complain);

}  // namespace app
