// The mail command: the application object of one run and its entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "console/console.h"

namespace app {
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
  std::int32_t PortNumber = 0;
  /// The optional settings, read with the others.
  app::MailOptions Options;
};

/// Runs the command: Init, Initialize, Process when allowed, Cleanup.
void Start();
