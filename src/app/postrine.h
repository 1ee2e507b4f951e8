// The mail command: the application object of one run and its entry.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/options.h"
#include "app/run_trace.h"
#include "console/console.h"

namespace app {
/// The program and its version, as the messages and the trace name it.
inline constexpr char kProgramName[] = "postrine 1.0";
/// The sender written into a new settings file.
inline constexpr char kDefaultSender[] = "postrine@localhost";
/// The settings file: "postrine.ini" in the executable's directory.
std::string SettingsFileName();
}  // namespace app

/// The one object of a run: the settings, the arguments and the console.
class Postrine {
 public:
  Postrine();  // Postrine:Init

  void Cleanup();
  std::string GetTimeStamp();
  bool Initialize();
  void OutputUsage();
  bool Process();
  void WriteError(const std::string& message);
  /// Begins the protocol trace with its head line when the settings ask
  /// for one.
  void StartTrace();
  /// Ends it with the run's outcome.
  void EndTrace();
  /// The recipients as the messages name them: the To list, then " cc "
  /// and " bcc " with those lists when given.
  std::string RecipientText() const;

  Console ConsoleWindow;
  std::string ServerName;
  std::string UserName;
  std::string Password;
  std::string Sender;
  std::string Recipients;
  std::string MailFileName;
  std::string Subject;
  /// The files given with "-a", in order.
  std::vector<std::string> Attachments;
  /// The "-cc" and "-bcc" recipients as typed, joined by ",".
  std::string Cc;
  std::string Bcc;
  std::string ReplyTo;
  /// "high", "normal" or "low"; empty: no priority headers.
  std::string Priority;
  /// Asks for a read receipt.
  bool Receipt = false;
  /// The body is HTML whatever the mail file's name ("-html").
  bool Html = false;
  /// The text alternative of an HTML body ("-alt"); empty: made from it.
  std::string AltFile;
  /// The images of an HTML body ("-embed"), in order.
  std::vector<std::string> Embeds;
  /// The delivery notices asked for, as CSmtp::Dsn takes them; empty: none.
  std::string Dsn;
  /// The "-x" header lines as name and value, in order.
  std::vector<std::pair<std::string, std::string>> HeaderFields;
  /// "postrine -q": deliver the queue and nothing else.
  bool QueueOnly = false;
  /// The settings section given with "-profile"; empty: [Settings] alone.
  std::string Profile;
  std::int32_t PortNumber = 0;
  /// The optional settings, read with the others.
  app::MailOptions Options;
  /// When the run began.
  std::chrono::steady_clock::time_point Started = std::chrono::steady_clock::now();
  /// The protocol trace; null without the Trace setting.
  std::unique_ptr<app::RunTrace> Trace;
};

/// Runs the command: Init, Initialize, Process when allowed, Cleanup.
void Start();
